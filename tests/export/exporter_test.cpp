#include "export/exporter.h"

#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <regex>
#include <set>
#include <tuple>

#include "export/dfxml_report.h"
#include "sample/sample_image.h"
#include "support/dfxml_reading.h"
#include "task/program_version.h"
#include "support/scan_harness.h"
#include "task/task_runner.h"

namespace norvale {
namespace {
namespace fs = std::filesystem;

std::string sha256Hex(const std::vector<std::uint8_t>& bytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(bytes.data(), bytes.size(), digest);
  char hex[SHA256_DIGEST_LENGTH * 2 + 1];
  for (int i = 0; i < SHA256_DIGEST_LENGTH; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  return hex;
}

// A scanned sample task, loaded in a context whose source may have bad sectors.
class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image = sample::buildSampleImage().bytes;
    scanned = test::scanImage(dir, image, {});
    ASSERT_TRUE(scanned.ok);
    openTask();
  }
  void openTask(const std::vector<std::uint64_t>& badSectors = {}) {
    task = std::make_unique<TaskContext>();
    ASSERT_TRUE(test::openTaskFolder(*task, observer, dir.file("task")));  // no device: listing only
    auto source = std::make_unique<test::ScriptedSource>(image);
    for (auto s : badSectors) source->markBad(s);
    task->deviceHandle.open(std::move(source));
  }
  std::vector<std::uint64_t> all() const {
    std::vector<std::uint64_t> p(scanned.files.size());
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = i;
    return p;
  }

  test::TempDir dir;
  test::TempDir out;
  std::vector<std::uint8_t> image;
  test::ScanOutcome scanned;
  test::RecordingObserver observer;
  std::unique_ptr<TaskContext> task;
};

TEST_F(ExportTest, EveryFileHoldsItsSegmentsBytesInOrder) {
  auto result = exportFiles(*task, observer, all(), {out.str(), false});
  ASSERT_TRUE(result) << result.error().message;
  ASSERT_EQ(result->size(), scanned.files.size());
  for (std::size_t i = 0; i < result->size(); ++i) {
    const auto& f = (*result)[i];
    EXPECT_EQ(f.index, i + 1);
    EXPECT_TRUE(f.complete);
    EXPECT_EQ(test::readFile(f.path), scanned.bytes[i]);
    EXPECT_EQ(f.sha256, sha256Hex(scanned.bytes[i]));
    EXPECT_EQ(f.size, scanned.files[i].size);
  }
  EXPECT_EQ((*result)[0].path, out.file("CH01/2016-05-17/CH01_20160517-080000_20160517-080007.h264"));
  EXPECT_TRUE(test::partialFilesBelow(out.str()).empty()) << "every partial file was renamed to its name";
}

TEST_F(ExportTest, ProgressStartsWithTheTotalAndCountsEveryFile) {
  ASSERT_TRUE(exportFiles(*task, observer, {0, 1}, {out.str(), false}));
  std::vector<TaskStatus> exportStatuses;
  for (const auto& s : observer.statuses)
    if (s.code == StatusCode::ExportStart || s.code == StatusCode::ExportProgress) exportStatuses.push_back(s);
  ASSERT_FALSE(exportStatuses.empty());
  EXPECT_EQ(exportStatuses.front().code, StatusCode::ExportStart);
  EXPECT_EQ(task->exportRecord.totalItems, 2u);
  EXPECT_EQ(task->exportRecord.totalBytes, scanned.files[0].size + scanned.files[1].size);
  EXPECT_EQ(exportStatuses.back().foundCount, 2u);
  EXPECT_EQ(exportStatuses.back().foundBytes, task->exportRecord.totalBytes);
}

TEST_F(ExportTest, ExistingFilesAreSkippedUnlessOverwriteIsChosen) {
  ASSERT_TRUE(exportFiles(*task, observer, {0}, {out.str(), false}));
  const auto path = out.file("CH01/2016-05-17/CH01_20160517-080000_20160517-080007.h264");
  test::writeFile(path, {1, 2, 3});
  auto skipped = exportFiles(*task, observer, {0}, {out.str(), false});
  ASSERT_TRUE(skipped);
  EXPECT_TRUE((*skipped)[0].skipped);
  EXPECT_EQ(test::readFile(path).size(), 3u) << "a skipped file is left alone";
  auto overwritten = exportFiles(*task, observer, {0}, {out.str(), true});
  ASSERT_TRUE(overwritten);
  EXPECT_FALSE((*overwritten)[0].skipped);
  EXPECT_EQ(test::readFile(path), scanned.bytes[0]);
}

TEST_F(ExportTest, UnreadableSectorsBecomeZerosInAFileMarkedIncomplete) {
  const auto& first = scanned.records[0][10];  // a record in the middle of file 1
  const std::uint64_t bad = (first.deviceOffset + first.size / 2) / 512;
  openTask({bad});
  auto result = exportFiles(*task, observer, {0}, {out.str(), false});
  ASSERT_TRUE(result);
  const auto& f = (*result)[0];
  EXPECT_FALSE(f.complete);
  EXPECT_GT(f.unreadableBytes, 0u);
  EXPECT_LE(f.unreadableBytes, 512u);
  EXPECT_NE(f.path.find(".incomplete.h264"), std::string::npos);
  const auto bytes = test::readFile(f.path);
  ASSERT_EQ(bytes.size(), scanned.bytes[0].size()) << "never silently short";
  std::size_t differing = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] != scanned.bytes[0][i]) {
      ++differing;
      EXPECT_EQ(bytes[i], 0);
    }
  EXPECT_GT(differing, 0u);
  EXPECT_LE(differing, 512u) << "only the unreadable sector is lost, not its whole block";
}

TEST_F(ExportTest, StopLeavesNoPartialFile) {
  task->requestStop();
  auto result = exportFiles(*task, observer, all(), {out.str(), false});
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->empty());
  for (const auto& e : fs::recursive_directory_iterator(out.path())) EXPECT_FALSE(e.is_regular_file()) << e.path();
}

TEST_F(ExportTest, FolderThatCannotBeWrittenIsAnError) {
  test::writeFile(out.file("blocker"), {0});
  auto result = exportFiles(*task, observer, {0}, {out.file("blocker"), false});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code, ErrorCode::WriteFailed);
}

TEST_F(ExportTest, PositionOutsideTheTaskIsRefused) {
  auto result = exportFiles(*task, observer, {999}, {out.str(), false});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code, ErrorCode::InvalidArgument);
}

TEST(ExportNames, RepeatedNamesGetANumber) {
  TaskContext task;
  test::redescribe(task, [](TaskDescription& d) { d.brand = 18; });
  const std::uint32_t t = sample::localEpoch(2016, 5, 17, 8, 0, 0);
  FileEntry e{1, t, t + 5, 10, 0, 37};
  task.fileMap.emplace(fileMapKey(1, calendarCode(2016, 5, 17)), e);
  task.fileMap.emplace(fileMapKey(1, calendarCode(2016, 5, 17)), e);
  task.fileMap.emplace(fileMapKey(2, 0), FileEntry{2, 0, 0, 10, 0, 37});
  const auto paths = exportRelativePaths(task);
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(paths[0], "CH01/2016-05-17/CH01_20160517-080000_20160517-080005.h264");
  EXPECT_EQ(paths[1], "CH01/2016-05-17/CH01_20160517-080000_20160517-080005_2.h264");
  EXPECT_EQ(paths[2].rfind("CH02/all-dates/CH02_", 0), 0u);
}


// report.dfxml: where every exported byte lies on the source.

struct RunCase {
  const char* name;
  std::vector<std::tuple<std::uint64_t, std::uint64_t, std::vector<UnreadableSpan>>> pieces;  // image offset, length, unreadable
  std::vector<ByteRun> runs;
};

TEST(ByteRunList, RunsJoinOnlyWhereFileAndSourceBothContinue) {
  const RunCase cases[] = {
      {"contiguous pieces join", {{1000, 100, {}}, {1100, 50, {}}}, {{0, 1000, 150}}},
      {"a gap on the source splits", {{1000, 100, {}}, {1200, 50, {}}}, {{0, 1000, 100}, {100, 1200, 50}}},
      {"an earlier source offset splits", {{1000, 100, {}}, {900, 100, {}}}, {{0, 1000, 100}, {100, 900, 100}}},
      {"an unreadable middle is a fill run", {{1000, 2048, {{512, 512}}}},
       {{0, 1000, 512}, {512, std::nullopt, 512}, {1024, 2024, 1024}}},
      {"unreadable pieces in a row are one fill run", {{1000, 100, {{0, 100}}}, {5000, 100, {{0, 100}}}},
       {{0, std::nullopt, 200}}},
      {"an unreadable end", {{0, 1024, {{512, 512}}}, {1024, 10, {}}}, {{0, 0, 512}, {512, std::nullopt, 512}, {1024, 1024, 10}}},
  };
  for (const RunCase& c : cases) {
    ByteRunList list;
    for (const auto& [offset, length, unreadable] : c.pieces) list.add(offset, length, unreadable);
    EXPECT_EQ(list.runs(), c.runs) << c.name;
  }
}

TEST_F(ExportTest, ReportDfxmlNamesEveryFileWithItsRunsInTheSchemasOrder) {
  ExportOptions options{out.str(), false, "norvale-cli export --out '<a & b>' 通道"};
  auto result = exportFiles(*task, observer, all(), options);
  ASSERT_TRUE(result);
  const auto report = test::readDfxmlFile(out.file("report.dfxml"));
  ASSERT_TRUE(report.parsed) << report.error;
  EXPECT_EQ(report.rootName, "dfxml");
  EXPECT_EQ(report.rootNamespace, "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML");
  EXPECT_EQ(report.version, "2.0.0-beta.0");
  std::vector<std::string> rootOrder{"dfxml:metadata", "dfxml:creator", "dfxml:source"};
  rootOrder.insert(rootOrder.end(), result->size(), "dfxml:fileobject");
  rootOrder.push_back("norvale:evidence");
  EXPECT_EQ(report.rootChildren, rootOrder);
  EXPECT_EQ(report.dcType, "Carve Report");
  EXPECT_EQ(report.creatorChildren,
            (std::vector<std::string>{"dfxml:program", "dfxml:version", "dfxml:execution_environment"}));
  EXPECT_EQ(report.program, "norvale");
  EXPECT_EQ(report.programVersion, kProgramVersion);
  EXPECT_EQ(report.commandLine, options.commandLine) << "markup in the command line stays text";
  // A path in another encoding, or a control character, cannot make the report unreadable.
  ExportOptions foreign{out.str(), false, std::string("norvale-cli export --out /m\xE9" "dia\x01/\xED\xA0\x80")};
  ASSERT_TRUE(exportFiles(*task, observer, {0}, foreign));
  const auto again = test::readDfxmlFile(out.file("report.dfxml"));
  ASSERT_TRUE(again.parsed) << again.error;
  EXPECT_EQ(again.commandLine, "norvale-cli export --out /m\uFFFDdia\uFFFD/\uFFFD\uFFFD\uFFFD");
  EXPECT_TRUE(std::regex_match(report.startTime, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)"))) << report.startTime;

  const std::vector<std::string> dfxmlOrder{"dfxml:filename", "dfxml:id", "dfxml:name_type", "dfxml:filesize",
                                            "dfxml:byte_runs", "dfxml:hashdigest"};
  ASSERT_EQ(report.files.size(), result->size());
  for (std::size_t i = 0; i < result->size(); ++i) {
    const auto& file = report.files[i];
    const auto& exported = (*result)[i];
    ASSERT_GE(file.children.size(), dfxmlOrder.size());
    EXPECT_EQ(std::vector<std::string>(file.children.begin(), file.children.begin() + 6), dfxmlOrder);
    for (std::size_t k = dfxmlOrder.size(); k < file.children.size(); ++k)
      EXPECT_EQ(file.children[k].rfind("norvale:", 0), 0u) << "Norvale's fields follow the DFXML elements: " << file.children[k];
    EXPECT_EQ(out.file(file.filename), exported.path);
    EXPECT_EQ(file.filesize, exported.size);
    EXPECT_EQ(file.sha256, exported.sha256);
    const auto bytes = test::bytesOfRuns(file, image);
    ASSERT_TRUE(bytes) << file.filename;
    EXPECT_EQ(*bytes, scanned.bytes[i]) << "the runs read from the image are the file";
  }
}

TEST_F(ExportTest, UnreadableSectorInTheMiddleOfAFileIsAFillRun) {
  const auto& record = scanned.records[0][10];
  const std::uint64_t bad = (record.deviceOffset + record.size / 2) / 512;
  openTask({bad});
  auto result = exportFiles(*task, observer, {0}, {out.str(), false});
  ASSERT_TRUE(result);
  const auto report = test::readDfxmlFile(out.file("report.dfxml"));
  ASSERT_EQ(report.files.size(), 1u);
  const auto& runs = report.files[0].runs;
  std::size_t fills = 0;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (runs[i].imageOffset) continue;
    ++fills;
    EXPECT_EQ(runs[i].fill, "0");
    EXPECT_EQ(runs[i].length, (*result)[0].unreadableBytes);
    EXPECT_GT(i, 0u);
    EXPECT_LT(i + 1, runs.size());
  }
  EXPECT_EQ(fills, 1u);
  EXPECT_EQ(test::bytesOfRuns(report.files[0], image), test::readFile((*result)[0].path))
      << "runs and zeros together are the incomplete file";
  EXPECT_EQ(report.files[0].filename.find(".incomplete."), report.files[0].filename.size() - 16);
}

TEST_F(ExportTest, ReportKeepsTheFilesOfEarlierRunsThatAreStillThere) {
  ASSERT_TRUE(exportFiles(*task, observer, {0}, {out.str(), false}));
  auto second = exportFiles(*task, observer, {1}, {out.str(), false});
  ASSERT_TRUE(second);
  auto names = [&] {
    std::set<std::string> n;
    for (const auto& f : test::readDfxmlFile(out.file("report.dfxml")).files) n.insert(f.filename);
    return n;
  };
  const auto paths = exportRelativePaths(*task);
  EXPECT_EQ(names(), (std::set<std::string>{paths[0], paths[1]}));
  fs::remove(out.file(paths[0]));
  ASSERT_TRUE(exportFiles(*task, observer, {1}, {out.str(), true}));
  EXPECT_EQ(names(), (std::set<std::string>{paths[1]})) << "a file that is gone leaves the report";
}

}  // namespace
}  // namespace norvale
