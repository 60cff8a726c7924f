#include "task/task_runner.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "parsers/brand_table.h"
#include "sample/sample_image.h"
#include "support/scan_harness.h"
#include "task/result_store.h"

namespace norvale {
namespace {

// The sample clip as the packets carry it: every unit behind a 4-byte start code.
std::vector<std::uint8_t> expectedClipStream() {
  std::vector<std::uint8_t> out;
  for (auto unit : sample::splitNalUnits(sample::clip())) {
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), unit.begin(), unit.end());
  }
  return out;
}

TEST(TaskRunner, SampleImageGivesOneFilePerChannelAndRecording) {
  test::TempDir dir;
  const auto image = sample::buildSampleImage();
  const auto outcome = test::scanImage(dir, image.bytes, {});
  ASSERT_TRUE(outcome.ok) << outcome.error;
  ASSERT_EQ(outcome.files.size(), 4u * image.recordings.size());
  const auto clip = expectedClipStream();
  for (std::size_t f = 0; f < outcome.files.size(); ++f) {
    const auto& file = outcome.files[f];
    const auto& recording = image.recordings[f % image.recordings.size()];
    EXPECT_EQ(file.channel, f / image.recordings.size() + 1);
    EXPECT_EQ(file.startTime, recording.startTime);
    EXPECT_EQ(file.endTime, recording.endTime);
    EXPECT_EQ(outcome.keys[f] & 0xFFFFFFFF, calendarCode(2016, 5, 17 + recording.day));
    EXPECT_EQ(outcome.bytes[f], clip) << "file " << f << " must be the clip, byte for byte";
  }
  EXPECT_EQ(outcome.endSector, (image.bytes.size() + 511) / 512);
}

TEST(TaskRunner, FinishedTaskLeavesOnlyHeaderSortedSegmentsAndFileEntries) {
  test::TempDir dir;
  const auto outcome = test::scanImage(dir, sample::buildSampleImage().bytes, {});
  ASSERT_TRUE(outcome.ok);
  const std::string folder = dir.file("task");
  EXPECT_EQ(test::readFile(taskFilePath(folder, TaskFileId::RawSegments)).size(), 256u);
  EXPECT_EQ(test::readFile(taskFilePath(folder, TaskFileId::Index)).size(), 0u);
  EXPECT_EQ(test::readFile(taskFilePath(folder, TaskFileId::SortedSegments)).size() % 37, 0u);
  EXPECT_EQ(test::readFile(taskFilePath(folder, TaskFileId::FileEntries)).size(), 24u * 33);
}

TEST(TaskLoader, ASecondRunLoadsTheSameFilesFromAnotherFolder) {
  test::TempDir dir;
  const auto scanned = test::scanImage(dir, sample::buildSampleImage().bytes, {});
  ASSERT_TRUE(scanned.ok);
  test::TempDir elsewhere;
  const auto moved = elsewhere.path() / "copied-task";
  std::filesystem::copy(dir.file("task"), moved);
  for (int round = 0; round < 2; ++round) {
    const auto loaded = test::loadTaskFolder(moved.string(), dir.file("image.img"));
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_EQ(loaded.keys, scanned.keys);
    EXPECT_EQ(loaded.bytes, scanned.bytes);
    EXPECT_EQ(loaded.endSector, scanned.endSector);
  }
}

TEST(TaskLoader, StoppedScanIsLoadableWithEndSectorZero) {
  // Two copies of the sample 3 MiB apart: stop after the first block.
  auto image = sample::buildSampleImage().bytes;
  auto twice = image;
  twice.resize(3 << 20, 0);
  twice.insert(twice.end(), image.begin(), image.end());
  test::TempDir dir;
  test::ScanRequest request;
  request.stopAfterProgress = 1;
  const auto outcome = test::scanImage(dir, twice, request);
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.endSector, 0u);
  EXPECT_FALSE(outcome.files.empty());
  const auto loaded = test::loadTaskFolder(dir.file("task"), dir.file("image.img"));
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_EQ(loaded.endSector, 0u);
  EXPECT_EQ(loaded.keys, outcome.keys);
}

TEST(TaskRunner, MissingSourceIsReportedAndNothingRuns) {
  test::TempDir dir;
  test::RecordingObserver observer;
  DeviceRecord device = makeImageRecord(dir.file("gone.img"), 0);
  TaskContext task;
  TaskHead head;
  head.description.brand = 18;
  head.description.length = 512;
  head.taskFolder = dir.str();
  head.device = &device;
  task.describe(head);
  auto ran = runNewTask(task, observer);
  ASSERT_FALSE(ran);
  EXPECT_EQ(observer.messages(), std::vector<std::string>{"访问源设备失败,请确认源设备是否存在"});
  EXPECT_FALSE(std::filesystem::exists(taskFilePath(dir.str(), TaskFileId::RawSegments)));
}

TEST(TaskRunner, TaskFolderThatDoesNotExistIsReported) {
  test::TempDir dir;
  test::writeFile(dir.file("image.img"), std::vector<std::uint8_t>(4096, 0));
  test::RecordingObserver observer;
  DeviceRecord device = makeImageRecord(dir.file("image.img"), 0);
  TaskContext task;
  TaskHead head;
  head.description.brand = 18;
  head.description.length = 4096;
  head.taskFolder = dir.file("no/such/folder");
  head.device = &device;
  task.describe(head);
  ASSERT_FALSE(runNewTask(task, observer));
  EXPECT_EQ(observer.messages(), std::vector<std::string>{"创建任务文件失败,请检查任务路径是否被独占"});
}

TEST(TaskRunner, SecondTaskOnTheSameContextKeepsNothingOfTheFirst) {
  test::TempDir dir;
  const auto image = sample::buildSampleImage().bytes;
  test::writeFile(dir.file("a.img"), image);
  test::writeFile(dir.file("b.img"), std::vector<std::uint8_t>(8192, 0));
  std::filesystem::create_directories(dir.file("ta"));
  std::filesystem::create_directories(dir.file("tb"));
  DeviceRecord a = makeImageRecord(dir.file("a.img"), 0), b = makeImageRecord(dir.file("b.img"), 1);
  TaskContext task;
  TaskHead head;
  head.description.brand = 18;
  head.description.length = (image.size() + 511) / 512 * 512;
  head.taskFolder = dir.file("ta");
  head.device = &a;
  task.describe(head);
  ASSERT_TRUE(runNewTask(task, test::noListener()));
  EXPECT_EQ(task.fileMap.size(), 24u);
  head.description.length = 8192;
  head.taskFolder = dir.file("tb");
  head.device = &b;
  task.describe(head);
  ASSERT_TRUE(runNewTask(task, test::noListener()));
  EXPECT_TRUE(task.fileMap.empty());
  EXPECT_EQ(task.status.foundCount, 0u);
  task.teardown();
  task.teardown();
  EXPECT_EQ(task.store, nullptr);
}

TEST(TaskRunner, UnknownBrandRunsNoParser) {
  test::TempDir dir;
  test::ScanRequest request;
  request.brand = 0;
  const auto outcome = test::scanImage(dir, sample::buildSampleImage().bytes, request);
  EXPECT_TRUE(outcome.ok);
  EXPECT_TRUE(outcome.files.empty());
  EXPECT_TRUE(outcome.messages.empty());
}

TEST(TaskRunner, RangeBeyondTheSourceReportsTheFailedReadsAndKeepsTheRest) {
  test::TempDir dir;
  const auto image = sample::buildSampleImage().bytes;
  test::ScanRequest request;
  request.endSector = (image.size() + (3 << 20)) / 512;
  const auto outcome = test::scanImage(dir, image, request);
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.files.size(), 24u);
  EXPECT_NE(std::find_if(outcome.messages.begin(), outcome.messages.end(),
                         [](const std::string& m) { return m.starts_with("读取源设备失败,可能存在坏道: 扇区 "); }),
            outcome.messages.end());
}

TEST(TaskHeader, ForeignTruncatedOrMissingHeadersAreRefused) {
  test::TempDir dir;
  test::RecordingObserver observer;
  TaskContext task;
  EXPECT_FALSE(readTaskHeader(task, observer, dir.str())) << "no Attr001.map";
  test::writeFile(taskFilePath(dir.str(), TaskFileId::RawSegments), std::vector<std::uint8_t>(100, 0));
  EXPECT_FALSE(readTaskHeader(task, observer, dir.str())) << "shorter than a header";
  test::writeFile(taskFilePath(dir.str(), TaskFileId::RawSegments), test::patternBytes(4096));
  auto foreign = readTaskHeader(task, observer, dir.str());
  ASSERT_FALSE(foreign) << "random bytes are no task";
  EXPECT_EQ(foreign.error().code, ErrorCode::Corrupt);
  for (const auto& m : observer.messages()) EXPECT_EQ(m, "访问任务路径失败,请确认是否是原始任务路径");
  EXPECT_EQ(observer.messages().size(), 3u);
}

TEST(TaskLoader, FolderWithoutFileEntriesFailsWithTheLoadMessage) {
  test::TempDir dir;
  ASSERT_TRUE(test::scanImage(dir, sample::buildSampleImage().bytes, {}).ok);
  std::filesystem::remove(taskFilePath(dir.file("task"), TaskFileId::FileEntries));
  const auto loaded = test::loadTaskFolder(dir.file("task"), dir.file("image.img"));
  EXPECT_FALSE(loaded.ok);
  EXPECT_EQ(loaded.messages.back(), "加载任务文件失败,请检查任务路径是否被独占");
  EXPECT_TRUE(loaded.files.empty());
}

TEST(TaskLoader, TimesReadInTheZoneOfTheMachine) {
  // Scanned in Shanghai, listed in UTC: the same instants, eight hours earlier on the clock.
  test::ZoneGuard shanghai("Asia/Shanghai");
  test::TempDir dir;
  const auto image = sample::buildSampleImage();
  ASSERT_TRUE(test::scanImage(dir, image.bytes, {}).ok);
  std::string text;
  test::ScanOutcome loaded;
  {
    test::ZoneGuard utc("UTC");
    loaded = test::loadTaskFolder(dir.file("task"), dir.file("image.img"));
    text = timeText(timeConventionFor(18, 1), image.recordings[0].startTime);
  }
  ASSERT_TRUE(loaded.ok);
  EXPECT_EQ(text, "2016年05月17日 00时00分00秒");
  EXPECT_EQ(loaded.keys[0] & 0xFFFFFFFF, calendarCode(2016, 5, 17));
  EXPECT_EQ(loaded.keys[1] & 0xFFFFFFFF, calendarCode(2016, 5, 17)) << "20:00 Shanghai is 12:00 UTC, same day";
}

}  // namespace
}  // namespace norvale
