// The shared checks of the task commands: selections, the task dialog, settings, load heads.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "sample/sample_image.h"
#include "support/scan_harness.h"
#include "support/test_support.h"
#include "task/task_workflow.h"

namespace norvale {
namespace {

DeviceRecord imageRecord(std::uint64_t size, std::string second = "disk7") {
  DeviceRecord record;
  record.name = "/evidence/" + second + ".img";
  record.secondName = std::move(second);
  record.driveNumber = 30;
  record.kind = DeviceKind::Path;
  record.size = size;
  return record;
}

TEST(TaskWorkflow, WholeDeviceSelectionCountsATrailingPartialSector) {
  const auto record = imageRecord(1025);
  const auto selection = wholeDeviceSelection(record);
  EXPECT_EQ(selection.startSector, 0u);
  EXPECT_EQ(selection.sectorCount, 3u);
  EXPECT_TRUE(deviceSelected(selection));
}

TEST(TaskWorkflow, EmptyDeviceAndMissingDeviceAreNotSelections) {
  const auto record = imageRecord(0);
  EXPECT_FALSE(deviceSelected(wholeDeviceSelection(record)));
  EXPECT_FALSE(deviceSelected(DeviceSelection{}));
}

TEST(TaskWorkflow, PartitionSelectionUsesItsRange) {
  const auto record = imageRecord(1 << 30);
  PartitionRecord partition;
  partition.start = 2048 * 512;
  partition.size = 4096 * 512;
  const auto selection = partitionSelection(record, partition);
  EXPECT_EQ(selection.startSector, 2048u);
  EXPECT_EQ(selection.sectorCount, 4096u);
}

TEST(TaskWorkflow, SourceTextNamesNumberSecondNameAndName) {
  EXPECT_EQ(deviceSourceText(imageRecord(10)), "[#30] [disk7] [/evidence/disk7.img]");
}

TEST(TaskWorkflow, ProposedFolderUsesSecondNameUnderTheRoot) {
  EXPECT_EQ(proposeTaskFolder("/cases", imageRecord(10)), "/cases/disk7");
}

TEST(TaskWorkflow, ProposedFolderWithoutSecondNameIsTheLocalTime) {
  const std::string folder = proposeTaskFolder("/cases", imageRecord(10, ""));
  const std::string name = std::filesystem::path(folder).filename().string();
  EXPECT_TRUE(std::regex_match(name, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}-\d{2}-\d{2})"))) << name;
  EXPECT_EQ(std::filesystem::path(folder).parent_path().string(), "/cases");
}

TEST(TaskWorkflow, TaskDialogAcceptsStartBelowEndAndGivesBytes) {
  const auto range = checkTaskDialog("/cases/a", "0", "1");
  ASSERT_TRUE(range);
  EXPECT_EQ(range->startOffset, 0u);
  EXPECT_EQ(range->length, 512u);
  const auto later = checkTaskDialog("/cases/a", "100", "300");
  ASSERT_TRUE(later);
  EXPECT_EQ(later->startOffset, 51200u);
  EXPECT_EQ(later->length, 102400u);
}

TEST(TaskWorkflow, TaskDialogRefusesAMissingOrDottedFolder) {
  EXPECT_EQ(checkTaskDialog("", "0", "8").error(), kTaskFolderMessage);
  EXPECT_EQ(checkTaskDialog("./here", "0", "8").error(), kTaskFolderMessage);
  EXPECT_EQ(checkTaskDialog("..", "0", "8").error(), kTaskFolderMessage);
}

TEST(TaskWorkflow, TaskDialogRefusesBadRanges) {
  EXPECT_EQ(checkTaskDialog("/t", "5", "5").error(), kSectorRangeMessage);
  EXPECT_EQ(checkTaskDialog("/t", "6", "5").error(), kSectorRangeMessage);
  EXPECT_EQ(checkTaskDialog("/t", "", "5").error(), kSectorRangeMessage);
  EXPECT_EQ(checkTaskDialog("/t", "0", "").error(), kSectorRangeMessage);
  EXPECT_EQ(checkTaskDialog("/t", "-1", "5").error(), kSectorRangeMessage);
  EXPECT_EQ(checkTaskDialog("/t", "0", "5x").error(), kSectorRangeMessage);
  // Sector numbers whose byte offset does not fit in 64 bits would wrap around.
  EXPECT_EQ(checkTaskDialog("/t", "0", "36028797018963968").error(), kSectorRangeMessage);
  EXPECT_EQ(checkTaskDialog("/t", "0", "99999999999999999999999").error(), kSectorRangeMessage);
  EXPECT_TRUE(checkTaskDialog("/t", "0", "36028797018963967"));
}

TEST(TaskWorkflow, TaskRootMustNotBeEmptyAndIsCreated) {
  test::TempDir dir;
  TaskSettings settings;
  settings.taskRoot = "/old";
  EXPECT_EQ(applyTaskRoot(settings, "").error(), kTaskRootMessage);
  EXPECT_EQ(settings.taskRoot, "/old");
  const std::string root = dir.file("a/b/c");
  ASSERT_TRUE(applyTaskRoot(settings, root));
  EXPECT_EQ(settings.taskRoot, root);
  EXPECT_TRUE(std::filesystem::is_directory(root));
}

TEST(TaskWorkflow, LoadHeadOfAFolderWithoutTaskIsRefusedWithTheHeaderMessage) {
  test::TempDir dir;
  test::RecordingObserver observer;
  TaskContext task;
  EXPECT_FALSE(loadHead(task, observer, dir.str(), nullptr));
  EXPECT_EQ(observer.messages(), std::vector<std::string>{"访问任务路径失败,请确认是否是原始任务路径"});
}

TEST(TaskWorkflow, LoadHeadOfAnEmptyRangeIsRefused) {
  test::TempDir dir;
  std::vector<std::uint8_t> header(256, 0);
  header[1] = 18;  // a valid brand, but length 0
  test::writeFile(dir.file("Attr001.map"), header);
  TaskContext task;
  EXPECT_FALSE(loadHead(task, test::noListener(), dir.str(), nullptr));
}

TEST(TaskWorkflow, LoadHeadTakesRangeFromTheHeaderAndDeviceFromTheSelection) {
  test::TempDir dir;
  const auto sample = sample::buildSampleImage();
  const auto outcome = test::scanImage(dir, sample.bytes, {});
  ASSERT_TRUE(outcome.ok) << outcome.error;
  const auto record = imageRecord(7);
  test::RecordingObserver observer;
  TaskContext task;
  task.requestStop();
  const auto head = loadHead(task, observer, dir.file("task"), &record);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->description.brand, 18);
  EXPECT_EQ(head->description.parseMode, 1);
  EXPECT_EQ(head->description.startOffset, 0u);
  EXPECT_EQ(head->description.length, (sample.bytes.size() + 511) / 512 * 512);
  EXPECT_EQ(head->device, &record);
  EXPECT_EQ(head->taskFolder, dir.file("task"));
  // A head read whole says nothing; opened with it, the task forgets an earlier stop.
  EXPECT_TRUE(observer.statuses.empty());
  task.describe(*head);
  EXPECT_FALSE(task.stopRequested());
}

TEST(TaskWorkflow, UnsupportedBrandsAreNamed) {
  EXPECT_FALSE(unsupportedBrandMessage(18));
  EXPECT_FALSE(unsupportedBrandMessage(48));
  ASSERT_TRUE(unsupportedBrandMessage(0));
  EXPECT_EQ(*unsupportedBrandMessage(0), "[0]  未知监控录像系统 暂不支持解析");
}

TEST(TaskWorkflow, RecorderClockFieldsAreCheckedAndTrimmed) {
  const auto tokyo = checkRecorderClock(" Asia/Tokyo\t", " +90 ");
  ASSERT_TRUE(tokyo);
  EXPECT_EQ(tokyo->zone, "Asia/Tokyo");
  EXPECT_EQ(tokyo->correction, 90);
  const auto blank = checkRecorderClock("", "");
  ASSERT_TRUE(blank);  // the workstation's zone as the C library reads it, no correction
  EXPECT_EQ(blank->zone, "");
  EXPECT_EQ(blank->correction, 0);
  EXPECT_EQ(checkRecorderClock("UTC", "-3162240000")->correction, -kMaxClockCorrection);
  for (const char* zone : {"Nowhere/City", "/etc/localtime", "localtime", "Asia"})
    EXPECT_EQ(checkRecorderClock(zone, "0").error(), kRecorderZoneMessage) << zone;
  for (const char* seconds : {"-", "+", "1e3", "12 34", "+-1", "3162240001", "99999999999999999999"})
    EXPECT_EQ(checkRecorderClock("UTC", seconds).error(), kClockCorrectionMessage) << seconds;
}

TEST(TaskWorkflow, TaskInformationRows) {
  const auto record = imageRecord(1572864);
  TaskContext task;
  TaskHead head;
  head.device = &record;
  head.description = TaskDescription{18, 1, 1024, 4096, "Europe/Berlin", -75, YearWindow{}};
  head.taskFolder = "/cases/disk7";
  task.describe(head);
  const auto rows = taskInformation(task);
  ASSERT_EQ(rows.size(), 16u);
  EXPECT_EQ(rows[0], (std::pair<std::string, std::string>{"设备名称：", "/evidence/disk7.img"}));
  EXPECT_EQ(rows[1].second, "disk7");
  EXPECT_EQ(rows[2].second, "#30");
  EXPECT_EQ(rows[3].second, "1.5 MB");
  EXPECT_EQ(rows[4].second, "[18]  中视安防监控录像系统");
  EXPECT_EQ(rows[5].second, "[1] 深度解析(速度慢)");
  EXPECT_EQ(rows[6].second, "2");
  EXPECT_EQ(rows[7].second, "10");
  EXPECT_EQ(rows[8], (std::pair<std::string, std::string>{"任务路径：", "/cases/disk7"}));
  EXPECT_EQ(rows[9], (std::pair<std::string, std::string>{"录像机时区：", "Europe/Berlin"}));
  EXPECT_EQ(rows[10], (std::pair<std::string, std::string>{"时钟校正：", "-75 秒"}));
  // A head with no window named: that of the tasks written before tasks kept one.
  EXPECT_EQ(rows[11], (std::pair<std::string, std::string>{"年份范围：", "2010年至2020年"}));
  // Never scanned to its end and no checkpoint: unfinished, its position unknown.
  EXPECT_EQ(rows[12], (std::pair<std::string, std::string>{"扫描状态：", "扫描未完成"}));
  EXPECT_EQ(rows[13], (std::pair<std::string, std::string>{"扫描位置：", "未记录"}));

  // A checkpoint: its sector and its counts of found records.
  task.checkpoint = TaskCheckpoint{6, 3072, 256 + 37 * 4, 4, 3 * 1048576};
  auto unfinished = taskInformation(task);
  EXPECT_EQ(unfinished[13].second, "6");
  EXPECT_EQ(unfinished[14], (std::pair<std::string, std::string>{"已找到片段：", "4"}));
  EXPECT_EQ(unfinished[15].second, "3.0 MB");

  // Completed: the end sector, and the loaded files' counts whatever checkpoint is left.
  task.endSector = 10;
  task.status.foundCount = 2;
  task.status.foundBytes = 2048;
  auto complete = taskInformation(task);
  EXPECT_EQ(complete[12].second, "扫描已完成");
  EXPECT_EQ(complete[13].second, "10");
  EXPECT_EQ(complete[14], (std::pair<std::string, std::string>{"已找到文件：", "2"}));
  EXPECT_EQ(foundTotals(task).fromCheckpoint, false);
}

}  // namespace
}  // namespace norvale
