// Size, duration and progress texts at their boundaries.
#include <gtest/gtest.h>

#include "task/status_text.h"

namespace norvale {
namespace {

TEST(StatusTextEdges, Sizes) {
  EXPECT_EQ(sizeTextWide(0), "0 Bytes");
  EXPECT_EQ(sizeTextNarrow(0), "0.0 Bytes");
  EXPECT_EQ(sizeTextWide(1023), "1023.0 Bytes");
  EXPECT_EQ(sizeTextNarrow(1023), "1023.0 Bytes");
  EXPECT_EQ(sizeTextWide(1024), "1.0 KB");
  EXPECT_EQ(sizeTextNarrow(1024), "1.0 KB");
  EXPECT_EQ(sizeTextNarrow(1572864), "1.5 MB");
  EXPECT_EQ(sizeTextWide(1572864), "1.5 MB");
  EXPECT_EQ(sizeTextNarrow(1ull << 40), "1.0 TB");
  EXPECT_EQ(sizeTextNarrow(UINT64_MAX), "16.0 EB");
}

TEST(StatusTextEdges, Durations) {
  EXPECT_EQ(durationText(-5), "-5 秒钟");
  EXPECT_EQ(durationText(0), "0 秒钟");
  EXPECT_EQ(durationText(59), "59 秒钟");
  EXPECT_EQ(durationText(60), "1.0 分钟");
  EXPECT_EQ(durationText(3599), "60.0 分钟");
  EXPECT_EQ(durationText(3600), "1.0 小时");
  EXPECT_EQ(durationText(86399), "24.0 小时");
  EXPECT_EQ(durationText(86400), "1.0 天");
}

TaskStatus scanProgress(std::uint64_t sector) {
  TaskStatus status;
  status.code = StatusCode::ScanProgress;
  status.value = 1;
  status.currentSector = sector;
  return status;
}

TEST(StatusTextEdges, NoSpeedInTheStartingSecondOrBeforeTheScanMoved) {
  StatusPresenter presenter;
  presenter.setScanRange(1024 * 512, 4096 * 512);
  TaskStatus start;
  start.code = StatusCode::ScanStart;
  start.value = 2;
  EXPECT_EQ(presenter.present(start, 100).progressRange, 2);
  EXPECT_FALSE(presenter.present(scanProgress(2048), 100).speedText);
  EXPECT_FALSE(presenter.present(scanProgress(1024), 101).speedText);
  EXPECT_FALSE(presenter.present(scanProgress(10), 101).speedText);
}

TEST(StatusTextEdges, SpeedAndRemainingTime) {
  StatusPresenter presenter;
  presenter.setScanRange(0, 200ull << 20);
  TaskStatus start;
  start.code = StatusCode::ScanStart;
  presenter.present(start, 10);
  // 100 MiB in 2 s: 50 MiB/s, 100 MiB left: 2 s.
  const auto view = presenter.present(scanProgress((100ull << 20) / 512), 12);
  ASSERT_TRUE(view.speedText);
  EXPECT_EQ(*view.speedText, "LBA: 204800  速度: 50.0 MB / s   剩余时间: 2 秒钟");
  // Past the end of the range the remaining time is clamped at zero.
  const auto past = presenter.present(scanProgress((300ull << 20) / 512), 13);
  ASSERT_TRUE(past.speedText);
  EXPECT_NE(past.speedText->find("剩余时间: 0 秒钟"), std::string::npos);
}

TEST(StatusTextEdges, ExportCountLineWithoutSpeedInTheFirstSecond) {
  StatusPresenter presenter;
  presenter.setExportTotals(3 << 20, 4);
  TaskStatus status;
  status.code = StatusCode::ExportStart;
  status.value = 3;
  presenter.present(status, 50);
  status.code = StatusCode::ExportProgress;
  status.foundBytes = 1 << 20;
  status.foundCount = 1;
  auto view = presenter.present(status, 50);
  ASSERT_TRUE(view.speedText);
  EXPECT_EQ(*view.speedText, "数量: 1 / 4  大小: 1.0 MB / 3.0 MB  ");
  EXPECT_EQ(view.progressPosition, 1);
  view = presenter.present(status, 51);
  EXPECT_EQ(*view.speedText, "数量: 1 / 4  大小: 1.0 MB / 3.0 MB  速度: 1.0 MB / s   剩余时间: 2 秒钟");
}

}  // namespace
}  // namespace norvale
