#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "task/command_worker.h"
#include "task/status_text.h"

namespace norvale {
namespace {

TEST(StatusPresenterTest, ScanProgressShowsCountsSpeedAndRemainingTime) {
  StatusPresenter presenter;
  presenter.setScanRange(1 << 20, 10 << 20);
  TaskStatus s;
  s.code = StatusCode::ScanStart;
  s.value = 11;
  auto v = presenter.present(s, 100);
  EXPECT_EQ(v.progressRange, 11);

  s.code = StatusCode::ScanProgress;
  s.value = 3;
  s.currentSector = (3 << 20) / 512;
  s.foundCount = 7;
  s.foundBytes = 2048;
  v = presenter.present(s, 100);
  EXPECT_EQ(v.countText, "数量: 7  大小: 2.0 KB");
  EXPECT_FALSE(v.speedText) << "the same second as the start shows no speed";

  v = presenter.present(s, 102);  // 2 MiB in 2 s, 8 MiB to go
  EXPECT_EQ(v.speedText, "LBA: 6144  速度: 1.0 MB / s   剩余时间: 8 秒钟");
  EXPECT_EQ(v.progressPosition, 3);

  s.currentSector = 1;  // not past the start yet
  EXPECT_FALSE(presenter.present(s, 105).speedText);
}

TEST(StatusPresenterTest, ExportProgressAgainstTheTotals) {
  StatusPresenter presenter;
  presenter.setExportTotals(4 << 20, 4);
  TaskStatus s;
  s.code = StatusCode::ExportStart;
  presenter.present(s, 10);
  s.code = StatusCode::ExportProgress;
  s.foundBytes = 1 << 20;
  s.foundCount = 1;
  auto v = presenter.present(s, 11);
  EXPECT_EQ(v.speedText, "数量: 1 / 4  大小: 1.0 MB / 4.0 MB  速度: 1.0 MB / s   剩余时间: 3 秒钟");
  EXPECT_EQ(v.progressPosition, 1);
}

TEST(StatusPresenterTest, MessagesAndLoadProgress) {
  StatusPresenter presenter;
  TaskStatus s;
  s.code = StatusCode::Message;
  s.message = "解析完成";
  EXPECT_EQ(presenter.present(s, 0).logMessage, "解析完成");
  s.code = StatusCode::LoadProgress;
  s.value = 4;
  s.foundCount = 5;
  s.foundBytes = 0;
  auto v = presenter.present(s, 0);
  EXPECT_EQ(v.countText, "文件数量: 5  大小: 0.0 Bytes");
  EXPECT_EQ(v.progressPosition, 4);
}

TEST(CommandWorkerTest, OnlyOneBodyRunsAtATime) {
  CommandWorker worker;
  std::atomic<bool> release{false};
  std::atomic<int> runs{0};
  ASSERT_TRUE(worker.start([&] {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++runs;
  }));
  EXPECT_TRUE(worker.busy());
  EXPECT_FALSE(worker.start([&] { ++runs; })) << "refused while busy";
  release = true;
  worker.wait();
  EXPECT_FALSE(worker.busy());
  ASSERT_TRUE(worker.start([&] { ++runs; }));
  worker.wait();
  EXPECT_EQ(runs, 2);
}

}  // namespace
}  // namespace norvale
