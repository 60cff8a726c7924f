#include "task/file_run.h"

#include <gtest/gtest.h>

#include "sample/sample_image.h"
#include "support/scan_harness.h"

namespace norvale {
namespace {

// The sample's task, loaded with one observer, and a run given another: the run's progress
// goes to its own observer, step by step, and the loader's hears none of it.
TEST(FileRun, ProgressGoesToTheRunsObserverAlone) {
  test::TempDir dir;
  const auto image = sample::buildSampleImage().bytes;
  ASSERT_TRUE(test::scanImage(dir, image, {}).ok);
  test::RecordingObserver loader, runner;
  TaskContext task;
  ASSERT_TRUE(test::openTaskFolder(task, loader, dir.file("task")));
  task.deviceHandle.open(std::make_unique<test::ScriptedSource>(image));
  const std::size_t heardByLoader = loader.statuses.size();

  auto run = beginFileRun(task, runner, {0, 1}, "out");
  ASSERT_TRUE(run) << run.error().message;
  ASSERT_EQ(runner.statuses.size(), 1u);
  EXPECT_EQ(runner.statuses[0].code, StatusCode::ExportStart);
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
  }
  EXPECT_EQ(loader.statuses.size(), heardByLoader);
}

}  // namespace
}  // namespace norvale
