// report.dfxml through the commands: every byte run of every fileobject, read from the source,
// is the exported file, on a raw image, a partition of a disk image, a split set and an EWF set;
// files --dfxml prints the same fileobjects without writing; --version names the build.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "cli/command_run.h"
#include "cli/commands.h"
#include "export/manifest.h"
#include "export/source_reader.h"
#include "storage/evidence_sets.h"
#include "support/dfxml_reading.h"
#include "task/program_version.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using test::run;
using test::TempDir;

std::string sha256Hex(const std::vector<std::uint8_t>& bytes) {
  Sha256 sha;
  sha.update(bytes.data(), bytes.size());
  return sha.hex();
}

struct Evidence {
  const char* kind;
  std::string source;                // what --source names
  std::vector<std::string> scanRange;  // extra scan options
  std::vector<std::uint8_t> media;   // the bytes the source presents
};

// Scans and exports the evidence, then reads every run of the report back from the media.
void checkRuns(const TempDir& dir, const Evidence& e) {
  SCOPED_TRACE(e.kind);
  const std::string task = dir.file(std::string("task-") + e.kind), out = dir.file(std::string("out-") + e.kind);
  std::vector<std::string> scan{"scan", "--source", e.source, "--brand", "18", "--mode", "deep", "--task", task, "--quiet"};
  scan.insert(scan.end(), e.scanRange.begin(), e.scanRange.end());
  const auto scanned = run(cli::runScanCommand, scan);
  ASSERT_EQ(scanned.status, 0) << scanned.err;
  const auto exported = run(cli::runExportCommand, {"export", "--task", task, "--source", e.source, "--out", out, "--quiet"});
  ASSERT_EQ(exported.status, 0) << exported.err;

  const auto report = test::readDfxmlFile(out + "/report.dfxml");
  ASSERT_TRUE(report.parsed) << report.error;
  ASSERT_EQ(report.files.size(), 24u);
  for (const auto& file : report.files) {
    const auto bytes = test::bytesOfRuns(file, e.media);
    ASSERT_TRUE(bytes) << file.filename;
    EXPECT_EQ(sha256Hex(*bytes), file.sha256) << file.filename;
    EXPECT_EQ(sha256OfFile(out + "/" + file.filename), file.sha256) << file.filename;
    EXPECT_EQ(bytes->size(), file.filesize);
  }
  EXPECT_NE(report.commandLine.find("norvale-cli export --task"), std::string::npos) << report.commandLine;
  for (const auto& segment : report.imageFilenames) EXPECT_TRUE(fs::exists(segment)) << segment;

  // files --dfxml: the same fileobjects, and nothing written.
  const auto listed = run(cli::runFilesCommand, {"files", "--task", task, "--source", e.source, "--dfxml"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  const auto printed = test::readDfxml(listed.out);
  ASSERT_TRUE(printed.parsed) << printed.error;
  ASSERT_EQ(printed.files.size(), report.files.size());
  for (std::size_t i = 0; i < report.files.size(); ++i) {
    EXPECT_EQ(printed.files[i].filename, report.files[i].filename);
    EXPECT_EQ(printed.files[i].sha256, report.files[i].sha256);
    EXPECT_EQ(printed.files[i].children, report.files[i].children);
    EXPECT_EQ(printed.files[i].runs.size(), report.files[i].runs.size());
  }
  EXPECT_EQ(printed.imageFilenames, report.imageFilenames);
}

TEST(DfxmlCommands, EveryByteRunReadFromTheSourceIsTheExportedFile) {
  TempDir dir;
  const std::string raw = test::writeSample(dir);
  const auto image = test::readFile(raw);
  checkRuns(dir, {"raw", raw, {}, image});

  // The sample's recordings inside the first partition of a disk image (a FAT16 volume at 1 MiB,
  // the recordings 4 MiB into it): the runs' offsets count from the disk's start.
  constexpr std::uint64_t kMiB = 1 << 20;
  const std::string disk = dir.file("disk.img"), fat = dir.file("fat.img");
  test::makeSparseFile(disk, 24 * kMiB);
  const auto table = test::runTool({"sfdisk", "-q", "--no-reread", "--no-tell-kernel", disk},
                                   "label: dos\nstart=2048, size=16MiB, type=6\n");
  ASSERT_TRUE(table.ok()) << table.output;
  test::makeSparseFile(fat, 16 * kMiB);
  ASSERT_TRUE(test::runTool({"mkfs.vfat", "-F", "16", fat}).ok());
  test::copyInto(fat, disk, kMiB);
  test::copyInto(raw, disk, 5 * kMiB);
  checkRuns(dir, {"partition", disk, {"--partition", "0"}, test::readFile(disk)});

  // A split set: its image_filename elements are its segments, in order.
  const std::string split = test::splitImage(raw, dir.file("parts"), 1 << 20);
  checkRuns(dir, {"split", split, {}, image});
  EXPECT_EQ(test::readDfxmlFile(dir.file("out-split") + "/report.dfxml").imageFilenames,
            (std::vector<std::string>{dir.file("parts.001"), dir.file("parts.002"), dir.file("parts.003")}));

  NORVALE_SKIP_WITHOUT_EWF_TOOLS();
  const std::string ewf = test::makeEwfSet(raw, dir.file("set"), "deflate:fast");
  std::size_t segments = 0;
  for (const auto& entry : fs::directory_iterator(dir.path()))
    segments += entry.path().filename().string().rfind("set.E", 0) == 0;
  ASSERT_GT(segments, 1u) << "the set is split into segments";
  checkRuns(dir, {"ewf", ewf, {}, image});
  const auto report = test::readDfxmlFile(dir.file("out-ewf") + "/report.dfxml");
  EXPECT_EQ(report.imageFilenames.size(), segments) << "every segment of the set is named";
}

TEST(DfxmlCommands, FilesDfxmlNeedsTheSource) {
  TempDir dir;
  const auto listed = run(cli::runFilesCommand, {"files", "--task", dir.str(), "--dfxml"});
  EXPECT_EQ(listed.status, 2);
}

#ifdef NORVALE_CLI_BINARY
TEST(DfxmlCommands, VersionIsTheBuildsVersion) {
  FILE* pipe = ::popen(NORVALE_CLI_BINARY " --version", "r");
  ASSERT_NE(pipe, nullptr);
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  EXPECT_EQ(::pclose(pipe), 0);
  ASSERT_TRUE(read);
  EXPECT_EQ(std::string(line), versionLine("norvale-cli") + "\n");
  EXPECT_NE(std::string(kProgramVersion), "");
}
#endif

}  // namespace
}  // namespace norvale
