// Failures the commands must never report as success: a task-file call that fails after the
// walk (the scan fails, stays unfinished and resumes), a folder that holds a task (refused unless
// --overwrite), and an export or conversion whose writes fail (no half file under a final name,
// no manifest line for bytes not on disk, and a rerun that writes everything).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>

#include "cli/command_run.h"
#include "cli/commands.h"
#include "export/manifest.h"
#include "sample/sample_image.h"
#include "support/file_faults.h"
#include "support/test_support.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using test::CommandRun;
using test::FailingCall;
using test::run;
using test::runWith;
using test::TempDir;

using Files = std::map<std::string, std::vector<std::uint8_t>>;

// Every regular file below folder by its relative path.
Files filesBelow(const std::string& folder) {
  Files files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = test::readFile(e.path().string());
  return files;
}

Files taskFiles(const std::string& folder) {
  Files files = filesBelow(folder);
  files.erase("source.txt");   // names the image by its path
  files.erase("history.txt");  // says when each scan ran
  return files;
}

struct Sample {
  TempDir dir;
  std::string image = dir.file("sample.img");
  Sample() { test::writeFile(image, sample::buildSampleImage().bytes); }
  std::vector<std::string> scan(const std::string& task) const {
    return {"scan", "--source", image, "--brand", "18", "--mode", "deep", "--task", task, "--quiet", "--threads", "1"};
  }
  CommandRun scanWith(TaskProbe* probe, const std::string& task) const {
    return runWith([probe](int argc, char** argv) { return cli::runScanCommand(argc, argv, probe); }, scan(task));
  }
};

TEST(ScanFailures, AFailedWriteAfterTheWalkEndsTheScanUnfinishedAndTheResumeFinishesIt) {
  Sample s;
  const auto reference = run(cli::runScanCommand, s.scan(s.dir.file("reference")));
  ASSERT_EQ(reference.status, 0) << reference.err;
  const Files expected = taskFiles(s.dir.file("reference"));
  const auto listing = run(cli::runFilesCommand, {"files", "--task", s.dir.file("reference"), "--json"});

  FailingCall counter(FileCall::Write, 0);
  ASSERT_EQ(s.scanWith(&counter, s.dir.file("counted")).status, 0);
  const std::uint64_t writes = counter.calls();
  ASSERT_GT(writes, 3u);
  // The last write is the header that names the end; the one before it the rebuild's file entries.
  for (const auto& [n, what] : {std::pair{writes - 1, "the rebuild's last write"}, {writes, "the last header"}}) {
    const std::string task = s.dir.file("task" + std::to_string(n));
    FailingCall failing(FileCall::Write, n);
    const auto failed = s.scanWith(&failing, task);
    EXPECT_EQ(failed.status, 1) << what;
    EXPECT_NE(failed.err.find("写入任务文件失败,请检查任务路径所在磁盘: "), std::string::npos) << what << failed.err;
    EXPECT_NE(failed.err.find("No space left on device"), std::string::npos) << what;
    EXPECT_EQ(failed.err.find("解析完成"), std::string::npos) << what << ": " << failed.err;

    const auto info = run(cli::runInfoCommand, {"info", "--task", task, "--json"});
    EXPECT_NE(info.out.find("\"complete\": false"), std::string::npos) << what << info.out;
    EXPECT_EQ(info.out.find("\"checkpoint_sector\": null"), std::string::npos) << what << ": the checkpoint stays";

    const auto resumed = run(cli::runScanCommand, {"scan", "--resume", "--task", task, "--quiet"});
    EXPECT_EQ(resumed.status, 0) << what << resumed.err;
    EXPECT_NE(resumed.err.find("解析完成"), std::string::npos) << what;
    EXPECT_TRUE(taskFiles(task) == expected) << what << ": the files of a scan never interrupted";
    EXPECT_EQ(run(cli::runFilesCommand, {"files", "--task", task, "--json"}).out, listing.out) << what;
  }
}

TEST(ScanFailures, AFolderHoldingATaskIsRefusedUnlessOverwriteIsGiven) {
  Sample s;
  const std::string first = s.dir.file("first");
  ASSERT_EQ(run(cli::runScanCommand, s.scan(first)).status, 0);
  const Files kept = filesBelow(first);
  ASSERT_EQ(kept.size(), 6u);
  // Any one file of a task is a task.
  for (const auto& [name, bytes] : kept) {
    const std::string folder = s.dir.file("holds " + name);
    fs::create_directories(folder);
    test::writeFile(folder + "/" + name, bytes);
    const auto refused = run(cli::runScanCommand, s.scan(folder));
    EXPECT_EQ(refused.status, 1) << name;
    EXPECT_NE(refused.err.find("该目录已存在任务: " + folder), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("--overwrite"), std::string::npos) << name;
    EXPECT_EQ(filesBelow(folder).size(), 1u) << name << ": nothing was written";
  }
  const auto again = run(cli::runScanCommand, s.scan(first));
  EXPECT_EQ(again.status, 1);
  EXPECT_TRUE(filesBelow(first) == kept) << "the first task is left as it was";

  // Other files are no task: the folder is used and they stay.
  const std::string notes = s.dir.file("notes");
  fs::create_directories(notes);
  test::writeFile(notes + "/case.txt", {'x'});
  EXPECT_EQ(run(cli::runScanCommand, s.scan(notes)).status, 0);
  EXPECT_EQ(filesBelow(notes).size(), 7u);

  // Told to, a scan replaces the task.
  std::vector<std::string> overwrite = s.scan(first);
  overwrite.push_back("--overwrite");
  const auto replaced = run(cli::runScanCommand, overwrite);
  EXPECT_EQ(replaced.status, 0) << replaced.err;
  Files scanned = taskFiles(notes);
  scanned.erase("case.txt");
  EXPECT_TRUE(taskFiles(first) == scanned);
}

// What a run left below out: the files, no partial file among them, and a manifest whose every
// line is the hash of the bytes on disk.
// The files a run wrote below out but the carve report, which names the run's time and command.
Files outputFiles(const std::string& out) {
  Files files = filesBelow(out);
  files.erase("report.dfxml");
  return files;
}

Files checkedOutput(const std::string& out) {
  EXPECT_TRUE(test::partialFilesBelow(out).empty()) << "a partial file was left";
  Files files = outputFiles(out);
  for (const ManifestLine& line : readManifest(out)) {
    EXPECT_TRUE(files.count(line.path)) << line.path << " is listed but not there";
    EXPECT_EQ(line.sha256, sha256OfFile(out + "/" + line.path)) << line.path;
  }
  return files;
}

TEST(ExportFailures, AFailedWriteEndsTheExportAndLeavesOnlyWholeFilesWithTheirLines) {
  Sample s;
  const std::string task = s.dir.file("task");
  ASSERT_EQ(run(cli::runScanCommand, s.scan(task)).status, 0);
  const std::vector<std::string> exportArgs = {"export", "--task", task, "--source", s.image, "--quiet", "--out"};
  auto exportTo = [&](const std::string& out) {
    auto args = exportArgs;
    args.push_back(out);
    return args;
  };
  ASSERT_EQ(run(cli::runExportCommand, exportTo(s.dir.file("reference"))).status, 0);
  const Files reference = outputFiles(s.dir.file("reference"));
  ASSERT_GT(reference.size(), 3u);

  auto exportWith = [&](FileFaults* faults, const std::string& out) {
    return runWith([faults](int argc, char** argv) { return cli::runExportCommand(argc, argv, faults); }, exportTo(out));
  };
  struct Case {
    FileCall call;
    int error;
    const char* says;
  };
  // A write half-way through the run, and the second file's flush to the disk.
  for (const Case& c : {Case{FileCall::Write, ENOSPC, "No space left on device"}, Case{FileCall::Sync, EIO, "Input/output error"}}) {
    FailingCall counter(c.call, 0);
    ASSERT_EQ(exportWith(&counter, s.dir.file(std::string("counted-") + c.says)).status, 0);
    const std::uint64_t n = c.call == FileCall::Sync ? 2 : counter.calls() / 2;
    const std::string out = s.dir.file(std::string("out-") + c.says);
    FailingCall failing(c.call, n, c.error);
    const auto failed = exportWith(&failing, out);
    EXPECT_EQ(failed.status, 1) << c.says;
    EXPECT_NE(failed.err.find(c.says), std::string::npos) << failed.err;
    EXPECT_NE(failed.err.find(".partial"), std::string::npos) << "the file is named: " << failed.err;
    const Files left = checkedOutput(out);
    EXPECT_GE(left.size(), 2u) << c.says << ": a whole file and the manifest";
    EXPECT_LT(left.size(), reference.size()) << c.says << ": the run ended at the failure";
    for (const auto& [path, bytes] : left)
      if (path != kManifestName) EXPECT_TRUE(bytes == reference.at(path)) << path << " is whole";
    EXPECT_EQ(readManifest(out).size(), left.size() - 1) << "a line for each file written";

    const auto rerun = run(cli::runExportCommand, exportTo(out));
    EXPECT_EQ(rerun.status, 0) << rerun.err;
    EXPECT_TRUE(checkedOutput(out) == reference) << c.says;
  }
}

TEST(ConvertFailures, ADiskThatRefusesAnMp4EndsTheConversionAndARerunWritesIt) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to write into";
  Sample s;
  const std::string task = s.dir.file("task");
  ASSERT_EQ(run(cli::runScanCommand, s.scan(task)).status, 0);
  auto convertTo = [&](const std::string& out) {
    return std::vector<std::string>{"convert", "--task", task, "--source", s.image, "--channel", "1", "--quiet", "--out", out};
  };
  ASSERT_EQ(run(cli::runConvertCommand, convertTo(s.dir.file("reference"))).status, 0);
  const Files reference = outputFiles(s.dir.file("reference"));
  ASSERT_GT(reference.size(), 3u);
  std::vector<std::string> mp4s;
  for (const auto& [path, bytes] : reference)
    if (path != kManifestName) mp4s.push_back(path);

  // The second MP4's partial file is the full device: every write to it fails with ENOSPC.
  const std::string out = s.dir.file("out");
  const fs::path second = fs::path(out) / mp4s[1];
  fs::create_directories(second.parent_path());
  fs::create_symlink("/dev/full", second.parent_path() / ("." + second.filename().string() + ".partial"));
  const auto failed = run(cli::runConvertCommand, convertTo(out));
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("No space left on device"), std::string::npos) << failed.err;
  const Files left = checkedOutput(out);
  EXPECT_EQ(left.size(), 2u) << "the first MP4 and its manifest line";
  EXPECT_TRUE(left.count(mp4s[0]) && left.at(mp4s[0]) == reference.at(mp4s[0]));
  EXPECT_FALSE(fs::exists(second));

  const auto rerun = run(cli::runConvertCommand, convertTo(out));
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_TRUE(checkedOutput(out) == reference);
}

}  // namespace
}  // namespace norvale
