// Unfinished tasks through the commands (one line that says so, the work carried on), the info
// command, and an export killed mid-file: no half file under a final name, and a rerun writes
// everything right.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "cli/command_run.h"
#include "cli/commands.h"
#include "format/task_header.h"
#include "sample/sample_image.h"
#include "support/scan_harness.h"
#include "support/test_support.h"
#include "task/partial_file.h"
#include "task/result_store.h"
#include "task/task_file.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

using test::CommandRun;
using test::run;

std::size_t countOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A sample task in dir/task over dir/image.img, stopped after the first progress or scanned whole.
test::ScanOutcome sampleTask(const TempDir& dir, bool stopped) {
  test::ScanRequest request;
  if (stopped) request.stopAfterProgress = 1;
  return test::scanImage(dir, sample::buildSampleImage().bytes, request);
}

void setCheckpoint(const std::string& folder, const std::optional<TaskCheckpoint>& checkpoint) {
  std::array<std::uint8_t, kTaskHeaderSize> bytes{};
  ASSERT_TRUE(readFileHead(taskFilePath(folder, TaskFileId::RawSegments), bytes));
  auto header = TaskHeader::decode(bytes);
  ASSERT_TRUE(header);
  header->checkpoint = checkpoint;
  ResultStore store;
  ASSERT_TRUE(store.openFiles(folder, TaskFileMode::Existing));
  ASSERT_TRUE(store.writeHeader(*header));
}

TEST(UnfinishedCommands, FilesAndExportSayOnceThatTheScanDidNotFinishAndCarryOn) {
  TempDir dir;
  const auto stopped = sampleTask(dir, true);
  ASSERT_TRUE(stopped.ok);
  ASSERT_FALSE(stopped.files.empty());
  const std::string task = dir.file("task");
  const auto files = run(cli::runFilesCommand, {"files", "--task", task});
  EXPECT_EQ(files.status, 0);
  EXPECT_EQ(countOf(files.err, "扫描未完成"), 1u) << files.err;
  EXPECT_NE(files.err.find("sector "), std::string::npos) << "a stop leaves its checkpoint: " << files.err;
  EXPECT_EQ(countOf(files.out, "\n"), stopped.files.size()) << "what was found is listed";

  // A task whose header keeps no checkpoint, as one stopped before checkpoints were kept.
  setCheckpoint(task, std::nullopt);
  const auto unplaced = run(cli::runFilesCommand, {"files", "--task", task});
  EXPECT_EQ(countOf(unplaced.err, "扫描未完成"), 1u) << unplaced.err;
  EXPECT_NE(unplaced.err.find("position not recorded"), std::string::npos) << unplaced.err;
  EXPECT_EQ(unplaced.out, files.out);

  // With a checkpoint, where the scan stood: its sector, the share of the range and the GiB.
  const std::uint64_t size = fs::file_size(dir.file("image.img"));
  const std::uint64_t half = (size + 511) / 512 / 2;
  setCheckpoint(task, TaskCheckpoint{half, half * 512, kTaskHeaderSize, 7, 70000});
  const auto listed = run(cli::runFilesCommand, {"files", "--task", task, "--json"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(countOf(listed.err, "扫描未完成"), 1u) << listed.err;
  EXPECT_NE(listed.err.find("sector " + std::to_string(half) + ", 50."), std::string::npos) << listed.err;
  EXPECT_NE(listed.err.find(" GiB)"), std::string::npos) << listed.err;
  EXPECT_EQ(listed.out.find("扫描未完成"), std::string::npos) << "the listing itself stays clean";

  const auto exported = run(cli::runExportCommand, {"export", "--task", task, "--source", dir.file("image.img"),
                                                    "--out", dir.file("out"), "--quiet"});
  EXPECT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(countOf(exported.err, "扫描未完成"), 1u) << exported.err;
  EXPECT_TRUE(fs::exists(dir.file("out/SHA256SUMS")));
}

TEST(UnfinishedCommands, ACompletedTaskSaysNothingOfIt) {
  TempDir dir;
  ASSERT_TRUE(sampleTask(dir, false).ok);
  const auto files = run(cli::runFilesCommand, {"files", "--task", dir.file("task")});
  EXPECT_EQ(files.status, 0);
  EXPECT_EQ(files.err.find("扫描未完成"), std::string::npos) << files.err;
}

TEST(InfoCommand, ShowsTheHeaderAndHowFarTheScanGot) {
  TempDir dir;
  const auto whole = sampleTask(dir, false);
  ASSERT_TRUE(whole.ok);
  const std::string task = dir.file("task");
  const std::uint64_t size = fs::file_size(dir.file("image.img"));
  auto info = run(cli::runInfoCommand, {"info", "--task", task, "--json"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("\"brand\": 18"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\"mode\": \"deep\""), std::string::npos);
  EXPECT_NE(info.out.find("\"start_sector\": 0, \"end_sector\": " + std::to_string((size + 511) / 512)),
            std::string::npos);
  EXPECT_NE(info.out.find("\"complete\": true"), std::string::npos);
  EXPECT_NE(info.out.find("\"checkpoint_sector\": null"), std::string::npos);
  EXPECT_NE(info.out.find("\"found_count\": " + std::to_string(whole.files.size()) + ","), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\"found_from\": \"files\""), std::string::npos);
  EXPECT_TRUE(info.err.empty()) << info.err;

  const auto text = run(cli::runInfoCommand, {"info", "--task", task});
  EXPECT_NE(text.out.find("扫描状态：扫描已完成"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("任务路径：" + task), std::string::npos);

  TempDir other;
  ASSERT_TRUE(sampleTask(other, true).ok);
  setCheckpoint(other.file("task"), TaskCheckpoint{640, 640 * 512, kTaskHeaderSize, 12, 345678});
  info = run(cli::runInfoCommand, {"info", "--task", other.file("task"), "--json"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("\"complete\": false"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\"checkpoint_sector\": 640"), std::string::npos);
  EXPECT_NE(info.out.find("\"found_count\": 12, \"found_bytes\": 345678, \"found_from\": \"checkpoint\""),
            std::string::npos)
      << info.out;
  EXPECT_TRUE(info.err.empty()) << "the state is a field, not a warning: " << info.err;
  const auto unfinished = run(cli::runInfoCommand, {"info", "--task", other.file("task")});
  EXPECT_NE(unfinished.out.find("扫描状态：扫描未完成"), std::string::npos) << unfinished.out;
  EXPECT_NE(unfinished.out.find("扫描位置：640"), std::string::npos);
}

TEST(InfoCommand, RefusesWhatIsNoTask) {
  TempDir dir;
  EXPECT_EQ(run(cli::runInfoCommand, {"info"}).status, 2);
  const auto missing = run(cli::runInfoCommand, {"info", "--task", dir.file("nothing")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(missing.err.empty());
  fs::create_directories(dir.file("short"));
  test::writeFile(dir.file("short/Attr001.map"), std::vector<std::uint8_t>(100, 7));
  EXPECT_EQ(run(cli::runInfoCommand, {"info", "--task", dir.file("short")}).status, 1);
}

// Every regular file below folder by its relative path, partial files apart.
std::map<std::string, std::vector<std::uint8_t>> filesBelow(const std::string& folder, std::size_t* partials = nullptr) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  if (partials) *partials = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    if (isPartialName(e.path().filename().string())) {
      if (partials) ++*partials;
      continue;
    }
    // report.dfxml records its run (command line, start time): it is checked on its own.
    if (e.path().filename() == "report.dfxml") continue;
    files[fs::relative(e.path(), folder).string()] = test::readFile(e.path().string());
  }
  return files;
}

#ifdef NORVALE_CLI_BINARY
TEST(ExportKilled, LeavesNoHalfFileUnderAFinalNameAndARerunWritesItAll) {
  TempDir dir;
  ASSERT_TRUE(sampleTask(dir, false).ok);
  const std::string task = dir.file("task"), image = dir.file("image.img");
  const auto reference = run(cli::runExportCommand, {"export", "--task", task, "--source", image, "--out",
                                                     dir.file("reference"), "--quiet"});
  ASSERT_EQ(reference.status, 0) << reference.err;
  const auto expected = filesBelow(dir.file("reference"));
  ASSERT_GT(expected.size(), 2u);

  const std::string out = dir.file("out");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The export kills itself once 64 KiB are written, before its next write.
    ::execl(NORVALE_CLI_BINARY, NORVALE_CLI_BINARY, "export", "--task", task.c_str(), "--source", image.c_str(),
            "--out", out.c_str(), "--quiet", "--test-kill-after", "65536", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the export was not killed mid-run";
  bool reached = false;
  for (const auto& e : fs::recursive_directory_iterator(out))
    if (isPartialName(e.path().filename().string()) && fs::file_size(e.path()) > 0) reached = true;
  EXPECT_TRUE(reached) << "the partial file holds what was written before the kill";

  std::size_t partials = 0;
  const auto left = filesBelow(out, &partials);
  EXPECT_EQ(partials, 1u) << "the file being written is a partial file";
  EXPECT_FALSE(left.count("SHA256SUMS")) << "no manifest of a run that never ended";
  EXPECT_FALSE(fs::exists(out + "/report.dfxml")) << "no report of a run that never ended";
  for (const auto& [path, bytes] : left) {
    ASSERT_TRUE(expected.count(path)) << path;
    EXPECT_TRUE(bytes == expected.at(path)) << path << " is under its final name and must be whole";
  }

  const auto rerun = run(cli::runExportCommand, {"export", "--task", task, "--source", image, "--out", out, "--quiet"});
  ASSERT_EQ(rerun.status, 0) << rerun.err;
  const auto after = filesBelow(out, &partials);
  EXPECT_EQ(partials, 0u) << "the rerun removes what the killed run left";
  EXPECT_TRUE(fs::exists(out + "/report.dfxml"));
  EXPECT_EQ(after.size(), expected.size());
  for (const auto& [path, bytes] : expected) {
    ASSERT_TRUE(after.count(path)) << path;
    EXPECT_TRUE(after.at(path) == bytes) << path;
  }
}
#endif

TEST(PartialFiles, NamesAreHiddenBesideTheTargetAndRecognised) {
  EXPECT_EQ(partialPathFor("/out/CH01/2024-01-02/a.h264"), fs::path("/out/CH01/2024-01-02/.a.h264.partial"));
  EXPECT_TRUE(isPartialName(".SHA256SUMS.partial"));
  EXPECT_FALSE(isPartialName("a.h264.partial")) << "not of our naming: never removed";
  EXPECT_FALSE(isPartialName(".partial"));
  EXPECT_FALSE(isPartialName(".a.h264"));
  TempDir dir;
  fs::create_directories(dir.file("a/b"));
  test::writeFile(dir.file("a/b/.x.mp4.partial"), {1, 2});
  test::writeFile(dir.file("a/b/x.mp4.partial"), {1, 2});
  test::writeFile(dir.file("a/.keep"), {1});
  EXPECT_EQ(removeStalePartials(dir.path()), 1u);
  EXPECT_FALSE(fs::exists(dir.file("a/b/.x.mp4.partial")));
  EXPECT_TRUE(fs::exists(dir.file("a/b/x.mp4.partial")));
  EXPECT_TRUE(fs::exists(dir.file("a/.keep")));
  test::writeFile(dir.file(".t.partial"), {9, 9, 9});
  ASSERT_TRUE(commitPartial(dir.file(".t.partial"), dir.file("t")));
  EXPECT_EQ(test::readFile(dir.file("t")), (std::vector<std::uint8_t>{9, 9, 9}));
  EXPECT_FALSE(fs::exists(dir.file(".t.partial")));
  EXPECT_FALSE(commitPartial(dir.file(".gone.partial"), dir.file("gone")));
}

}  // namespace
}  // namespace norvale
