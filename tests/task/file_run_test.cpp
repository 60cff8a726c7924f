#include "task/file_run.h"

#include <gtest/gtest.h>

#include "sample/sample_image.h"
#include "support/scan_harness.h"

namespace norvale {
namespace {

// A scanned sample, loaded with one observer; the runs below are given another.
class FileRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image = sample::buildSampleImage().bytes;
    scanned = test::scanImage(dir, image, {});
    ASSERT_TRUE(scanned.ok) << scanned.error;
    ASSERT_TRUE(test::openTaskFolder(task, loader, dir.file("task")));
    task.deviceHandle.open(std::make_unique<test::ScriptedSource>(image));
    heardByLoader = loader.statuses.size();
  }

  test::TempDir dir;
  std::vector<std::uint8_t> image;
  test::ScanOutcome scanned;
  test::RecordingObserver loader, runner;
  TaskContext task;
  std::size_t heardByLoader = 0;
};

TEST_F(FileRunTest, ProgressGoesToTheRunsObserverAlone) {
  const std::uint64_t total = scanned.files[0].size + scanned.files[1].size;
  auto run = beginFileRun(task, runner, {0, 1}, "out");
  ASSERT_TRUE(run) << run.error().message;
  EXPECT_EQ(run->entries().size(), scanned.files.size());
  ASSERT_EQ(runner.statuses.size(), 1u);
  EXPECT_EQ(runner.statuses[0].code, StatusCode::ExportStart);
  EXPECT_EQ(runner.statuses[0].value, static_cast<std::int64_t>(total / 1048576));
  EXPECT_EQ(task.exportRecord.totalBytes, total);

  struct Step {
    void (*apply)(FileRun&);
    std::size_t heard;  // notifications the runner has heard after the step
    std::uint64_t bytes, files;
  };
  const Step steps[] = {
      {[](FileRun& r) { r.advance(10); }, 2, 10, 0},
      {[](FileRun& r) { r.countFile(); }, 2, 10, 1},  // counted, said with the next notification
      {[](FileRun& r) { r.advance(5); }, 3, 15, 1},
      {[](FileRun& r) { r.reach(100); }, 4, 100, 1},
      {[](FileRun& r) { r.finishFile(200); }, 5, 200, 2},
  };
  for (const Step& step : steps) {
    step.apply(*run);
    ASSERT_EQ(runner.statuses.size(), step.heard);
    EXPECT_EQ(runner.statuses.back().code, StatusCode::ExportProgress);
    EXPECT_EQ(task.status.foundBytes, step.bytes);
    EXPECT_EQ(task.status.foundCount, step.files);
    EXPECT_EQ(runner.statuses.back().foundBytes, step.bytes);
  }
  EXPECT_EQ(loader.statuses.size(), heardByLoader) << "the loader's observer hears nothing of a later run";
}

TEST_F(FileRunTest, ARunThatCannotBeginSaysNothingAndRecordsNothing) {
  EXPECT_FALSE(beginFileRun(task, runner, {0, scanned.files.size()}, "out")) << "a position past the map";
  task.deviceHandle.close();
  EXPECT_FALSE(beginFileRun(task, runner, {0}, "out")) << "no source open";
  EXPECT_TRUE(runner.statuses.empty());
  EXPECT_TRUE(task.exportRecord.folder.empty());
}

}  // namespace
}  // namespace norvale
