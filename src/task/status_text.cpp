#include "task/status_text.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace norvale {
namespace {
constexpr const char* kUnits[] = {"Bytes", "KB", "MB", "GB", "TB", "PB", "EB"};

std::string sizeText(std::uint64_t bytes) {
  int k = 0;
  double value = static_cast<double>(bytes);
  while (k < 6 && value >= 1024.0) {
    value /= 1024.0;
    ++k;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1f %s", value, kUnits[k]);
  return buf;
}
}  // namespace

std::string sizeTextWide(std::uint64_t bytes) { return bytes == 0 ? "0 Bytes" : sizeText(bytes); }
std::string sizeTextNarrow(std::uint64_t bytes) { return sizeText(bytes); }

std::string durationText(std::int64_t s) {
  char buf[64];
  if (s < 60)
    std::snprintf(buf, sizeof buf, "%lld 秒钟", static_cast<long long>(s));
  else if (s < 3600)
    std::snprintf(buf, sizeof buf, "%.1f 分钟", static_cast<double>(s) / 60.0);
  else if (s < 86400)
    std::snprintf(buf, sizeof buf, "%.1f 小时", static_cast<double>(s) / 3600.0);
  else
    std::snprintf(buf, sizeof buf, "%.1f 天", static_cast<double>(s) / 86400.0);
  return buf;
}

std::string logTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  if (localtime_s(&tm, &now) != 0) return {};
#else
  if (!localtime_r(&now, &tm)) return {};
#endif
  char buf[64];
  if (std::strftime(buf, sizeof buf, "%Y-%m-%d %H-%M-%S", &tm) == 0) return {};
  return buf;
}

std::int64_t monotonicSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

StatusView StatusPresenter::present(const TaskStatus& s, std::int64_t now) {
  StatusView view;
  char buf[256];
  auto speedAndRemaining = [&](std::uint64_t done, std::uint64_t total) -> std::optional<std::pair<std::string, std::string>> {
    if (now == m_startSecond || done == 0) return std::nullopt;
    std::uint64_t speed = done / static_cast<std::uint64_t>(now - m_startSecond);
    if (speed == 0) speed = 1;
    const std::uint64_t remaining = total > done ? total - done : 0;
    return std::make_pair(sizeTextWide(speed), durationText(static_cast<std::int64_t>(remaining / speed)));
  };
  switch (s.code) {
    case StatusCode::Message:
      view.logMessage = s.message;
      break;
    case StatusCode::ScanStart:
    case StatusCode::ExportStart:
      m_startSecond = now;
      view.progressRange = s.value;
      if (s.code == StatusCode::ScanStart) view.progressPosition = 0;
      break;
    case StatusCode::ScanProgress: {
      std::snprintf(buf, sizeof buf, "数量: %llu  大小: %s", static_cast<unsigned long long>(s.foundCount),
                    sizeTextNarrow(s.foundBytes).c_str());
      view.countText = buf;
      view.progressPosition = s.value;
      const std::uint64_t reached = s.currentSector * 512;
      const std::uint64_t done = reached > m_startOffset ? reached - m_startOffset : 0;
      if (auto sr = speedAndRemaining(done, m_length)) {
        std::snprintf(buf, sizeof buf, "LBA: %llu  速度: %s / s   剩余时间: %s",
                      static_cast<unsigned long long>(s.currentSector), sr->first.c_str(), sr->second.c_str());
        view.speedText = buf;
      }
      break;
    }
    case StatusCode::ExportProgress: {
      view.progressPosition = static_cast<std::int64_t>(s.foundBytes / 1048576);
      std::snprintf(buf, sizeof buf, "数量: %llu / %llu  大小: %s / %s  ", static_cast<unsigned long long>(s.foundCount),
                    static_cast<unsigned long long>(m_totalItems), sizeTextNarrow(s.foundBytes).c_str(),
                    sizeTextNarrow(m_totalBytes).c_str());
      std::string line = buf;
      if (auto sr = speedAndRemaining(s.foundBytes, m_totalBytes)) {
        std::snprintf(buf, sizeof buf, "速度: %s / s   剩余时间: %s", sr->first.c_str(), sr->second.c_str());
        line += buf;
      }
      view.speedText = line;
      break;
    }
    case StatusCode::IdentifyStart:
    case StatusCode::LoadStart:
      view.progressRange = s.value;
      view.progressPosition = 0;
      break;
    case StatusCode::IdentifyProgress:
      view.progressPosition = s.value;
      break;
    case StatusCode::LoadProgress:
      view.progressPosition = s.value;
      std::snprintf(buf, sizeof buf, "文件数量: %llu  大小: %s", static_cast<unsigned long long>(s.foundCount),
                    sizeTextNarrow(s.foundBytes).c_str());
      view.countText = buf;
      break;
    case StatusCode::None:
      break;
  }
  return view;
}

}  // namespace norvale
