#pragma once
// The texts that follow a running command: sizes, durations, counts, speed and remaining time.
#include <cstdint>
#include <optional>
#include <string>

#include "task/task_status.h"

namespace norvale {

// Speeds: "0 Bytes" for 0, else "%.1f Bytes" ... "%.1f EB" by powers of 1024.
std::string sizeTextWide(std::uint64_t bytes);
// Found and exported sizes: as the wide form, but 0 gives "0.0 Bytes".
std::string sizeTextNarrow(std::uint64_t bytes);
// "%I64d 秒钟", "%.1f 分钟", "%.1f 小时", "%.1f 天".
std::string durationText(std::int64_t seconds);
// Local time as "%Y-%m-%d %H-%M-%S" (log lines).
std::string logTimeText();

// What the main window shows for one notification.
struct StatusView {
  std::optional<std::string> logMessage;       // code 1
  std::optional<std::int64_t> progressRange;   // 0..value
  std::optional<std::int64_t> progressPosition;
  std::optional<std::string> countText;        // second status field
  std::optional<std::string> speedText;        // third status field
};

// Turns notifications into texts; keeps the start second of the running command.
class StatusPresenter {
 public:
  // task range (bytes) for remaining time of scans; export totals for transfers.
  void setScanRange(std::uint64_t startOffset, std::uint64_t length) {
    m_startOffset = startOffset;
    m_length = length;
  }
  void setExportTotals(std::uint64_t bytes, std::uint64_t items) {
    m_totalBytes = bytes;
    m_totalItems = items;
  }
  // nowSeconds: a monotonic clock in whole seconds.
  StatusView present(const TaskStatus& status, std::int64_t nowSeconds);

 private:
  std::int64_t m_startSecond = 0;
  std::uint64_t m_startOffset = 0, m_length = 0;
  std::uint64_t m_totalBytes = 0, m_totalItems = 0;
};

// Monotonic seconds for the presenter.
std::int64_t monotonicSeconds();

}  // namespace norvale
