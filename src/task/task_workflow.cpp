#include "task/task_workflow.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "format/time_zone.h"
#include "parsers/brand_table.h"
#include "task/brand_registry.h"
#include "task/result_store.h"
#include "task/status_text.h"
#include "task/task_history.h"
#include "task/task_runner.h"

namespace norvale {

std::string defaultTaskRoot() {
#ifdef _WIN32
  return "C:\\Norvale";
#else
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/Norvale";
#endif
}

namespace {
constexpr std::uint64_t kMaxSector = UINT64_MAX / kSectorSize;

std::string localTimeName() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H-%M-%S", &tm);
  return buf;
}

// Digits only, as the dialog's number edits accept; nullopt for anything else or an overflow.
std::optional<std::uint64_t> sectorNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}
}  // namespace

DeviceSelection wholeDeviceSelection(const DeviceRecord& device) {
  return {&device, 0, (device.size + kSectorSize - 1) / kSectorSize};
}

DeviceSelection partitionSelection(const DeviceRecord& device, const PartitionRecord& partition) {
  return {&device, partition.start / kSectorSize, (partition.size + kSectorSize - 1) / kSectorSize};
}

bool deviceSelected(const DeviceSelection& selection) {
  return selection.device != nullptr && selection.sectorCount != 0;
}

std::string deviceSourceText(const DeviceRecord& device) {
  return "[#" + std::to_string(device.driveNumber) + "] [" + device.secondName + "] [" + device.name + "]";
}

std::string proposeTaskFolder(const std::string& taskRoot, const DeviceRecord& device) {
  const std::string name = device.secondName.empty() ? localTimeName() : device.secondName;
  return (std::filesystem::path(taskRoot) / std::filesystem::u8path(name)).string();
}

std::expected<TaskRange, std::string> checkTaskDialog(const std::string& folder, const std::string& startSector,
                                                      const std::string& endSector) {
  if (folder.empty() || folder.front() == '.') return std::unexpected(kTaskFolderMessage);
  const auto start = sectorNumber(startSector);
  const auto end = sectorNumber(endSector);
  if (!start || !end || *start >= *end || *end > kMaxSector) return std::unexpected(kSectorRangeMessage);
  return TaskRange{*start * kSectorSize, (*end - *start) * kSectorSize};
}

namespace {
std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}
}  // namespace

std::expected<RecorderClock, std::string> checkRecorderClock(const std::string& zoneText,
                                                             const std::string& correctionText) {
  RecorderClock clock;
  clock.zone = trimmed(zoneText);
  if (!clock.zone.empty() && !TimeZone::named(clock.zone)) return std::unexpected(kRecorderZoneMessage);
  const std::string seconds = trimmed(correctionText);
  if (seconds.empty()) return clock;
  const char* first = seconds.data() + (seconds.front() == '+' ? 1 : 0);
  const char* last = seconds.data() + seconds.size();
  auto [ptr, ec] = std::from_chars(first, last, clock.correction);
  if (ec != std::errc{} || ptr != last || first == last || (first != seconds.data() && *first == '-') ||
      clock.correction > kMaxClockCorrection || clock.correction < -kMaxClockCorrection)
    return std::unexpected(kClockCorrectionMessage);
  return clock;
}

std::expected<YearWindow, std::string> checkYearWindow(const std::string& text) {
  if (auto years = YearWindow::parse(text)) return *years;
  return std::unexpected(kYearWindowMessage);
}

std::optional<std::string> heldTaskFile(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<fs::path> names;
  for (TaskFileId id : {TaskFileId::RawSegments, TaskFileId::Index, TaskFileId::SortedSegments, TaskFileId::FileEntries})
    names.push_back(fs::u8path(taskFilePath(folder, id)));
  names.push_back(fs::u8path(folder) / "source.txt");
  names.push_back(fs::u8path(folder) / kTaskHistoryName);
  for (const fs::path& name : names) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(name, ec))) return name.filename().string();
  }
  return std::nullopt;
}

bool makeFolder(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::u8path(folder), ec);
  return std::filesystem::is_directory(std::filesystem::u8path(folder), ec);
}

std::expected<void, std::string> applyTaskRoot(TaskSettings& settings, const std::string& root) {
  if (root.empty()) return std::unexpected(kTaskRootMessage);
  settings.taskRoot = root;
  makeFolder(root);
  return {};
}

std::optional<TaskHead> loadHead(TaskContext& task, TaskObserver& observer, const std::string& folder,
                                 const DeviceRecord* device) {
  auto head = readTaskHeader(task, observer, folder);
  if (!head || static_cast<std::int64_t>(head->description.length) <= 0) return std::nullopt;
  head->taskFolder = folder;
  head->device = device;
  return *head;
}

std::optional<std::string> unsupportedBrandMessage(std::uint8_t brand) {
  if (findBrand(brand)) return std::nullopt;
  return brandName(brand) + " 暂不支持解析";
}

FoundTotals foundTotals(const TaskContext& task) {
  if (!task.complete() && task.checkpoint) return {task.checkpoint->foundCount, task.checkpoint->foundBytes, true};
  return {task.status.foundCount, task.status.foundBytes, false};
}

std::vector<std::pair<std::string, std::string>> taskInformation(const TaskContext& task) {
  const DeviceRecord* device = task.device;
  const FoundTotals found = foundTotals(task);
  std::string reached = task.complete()   ? std::to_string(task.endSector)
                        : task.checkpoint ? std::to_string(task.checkpoint->sector)
                                          : "未记录";
  return {
      {"设备名称：", device ? device->name : ""},
      {"序列号：", device ? device->secondName : ""},
      {"设备号：", device ? "#" + std::to_string(device->driveNumber) : ""},
      {"设备大小：", device ? sizeTextNarrow(device->size) : ""},
      {"监控类型：", brandName(task.description().brand)},
      {"解析方式：", parseModeText(task.description().parseMode)},
      {"开始位置：", std::to_string(task.description().startOffset / kSectorSize)},
      {"结束位置：", std::to_string((task.description().startOffset + task.description().length) / kSectorSize)},
      {"任务路径：", task.taskFolder},
      {"录像机时区：", zoneText(task.description().recorderZone)},
      {"时钟校正：", correctionText(task.description().clockCorrection)},
      {"年份范围：", yearWindowText(task.description().years)},
      {"扫描状态：", task.complete() ? "扫描已完成" : "扫描未完成"},
      {"扫描位置：", reached},
      {found.fromCheckpoint ? "已找到片段：" : "已找到文件：", std::to_string(found.count)},
      {"已找到大小：", sizeTextNarrow(found.bytes)},
  };
}

}  // namespace norvale
