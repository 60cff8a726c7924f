#pragma once
// The checks and texts of the task commands that every front end shares: the new-task wizard,
// the task dialog, the settings, the load command and the task information.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "storage/device_record.h"
#include "task/task_context.h"

namespace norvale {

// The default task root: a folder "Norvale" in the user's home (C:\Norvale on Windows).
std::string defaultTaskRoot();

// The workstation's settings of the desktop program, which outlive any task.
struct TaskSettings {
  std::string taskRoot = defaultTaskRoot();  // where new task folders are proposed
};

inline constexpr const char* kBusyMessage = "当前还有其他任务在执行,请等待其他任务完成";
inline constexpr const char* kWizardDeviceMessage = "【选择设备】 -> 选择品牌 -> 解析方式";
inline constexpr const char* kWizardBrandMessage = "选择设备 -> 【选择品牌】 -> 解析方式";
inline constexpr const char* kWizardModeMessage = "选择设备 -> 选择品牌 -> 【解析方式】";
inline constexpr const char* kSelectDeviceMessage = "请在设备列表中选择存储设备";
inline constexpr const char* kTaskFolderMessage = "【请选择任务路径】";
inline constexpr const char* kSectorRangeMessage = "请正确填写开始扇区和结束扇区 【开始扇区<结束扇区】";
inline constexpr const char* kTaskRootMessage = "请正确设置任务路径";
inline constexpr const char* kLoadFolderMessage = "请选择正确的任务路径";
// Asked when a loaded task's scan has not finished and its checkpoint lets it go on.
inline constexpr const char* kResumeQuestion = "该任务尚未解析完成,是否从断点继续解析?";
inline constexpr const char* kScanDoneText = "解析完成";
// Asked before a new task replaces the task a chosen folder holds.
inline constexpr const char* kOverwriteQuestion = "该目录已存在任务,是否覆盖?";
inline constexpr const char* kLoadDoneText = "加载任务完成";
inline constexpr const char* kRecorderZoneMessage = "请正确填写录像机时区 【时区名称,例如 Asia/Shanghai】";
inline constexpr const char* kClockCorrectionMessage = "请正确填写时钟校正 【加到录像机时钟上的秒数,例如 -3600】";
inline constexpr const char* kYearWindowMessage = "请正确填写录像年份范围 【起始年份-结束年份,例如 2010-2027】";

// What the device list has selected: a whole device or one partition of it.
struct DeviceSelection {
  const DeviceRecord* device = nullptr;
  std::uint64_t startSector = 0;
  std::uint64_t sectorCount = 0;
};

// The selection of a whole device. A trailing partial sector counts, so that its bytes are
// scanned too (reads stop at the end of the source).
DeviceSelection wholeDeviceSelection(const DeviceRecord& device);
// The selection of one partition of a device.
DeviceSelection partitionSelection(const DeviceRecord& device, const PartitionRecord& partition);

// The wizard's first check: a device with at least one sector.
bool deviceSelected(const DeviceSelection& selection);

// "[#%d] [%s] [%s]": device number, second name and name (task dialog and status strip).
std::string deviceSourceText(const DeviceRecord& device);

// The task folder proposed under the task root: the device's second name, or the local time
// "%Y-%m-%d %H-%M-%S" when the device has none.
std::string proposeTaskFolder(const std::string& taskRoot, const DeviceRecord& device);

// The range the task dialog accepts, in bytes.
struct TaskRange {
  std::uint64_t startOffset = 0;
  std::uint64_t length = 0;
};

// Checks the task dialog's folder and sector texts. The error is the text the dialog shows:
// kTaskFolderMessage for an empty folder or one beginning with ".", kSectorRangeMessage when
// start is not below end or a sector text is not a sector number that fits in a byte offset.
std::expected<TaskRange, std::string> checkTaskDialog(const std::string& folder, const std::string& startSector,
                                                      const std::string& endSector);

// The recorder's clock the task dialog accepts.
struct RecorderClock {
  std::string zone;  // empty: the workstation's zone as the C library reads it
  std::int64_t correction = 0;
};

// Checks the task dialog's zone and correction texts (blanks around them ignored). The error is
// the text the dialog shows: kRecorderZoneMessage for a zone the zone database does not know,
// kClockCorrectionMessage for a correction that is no whole number of seconds within a century.
// An empty correction is 0.
std::expected<RecorderClock, std::string> checkRecorderClock(const std::string& zone, const std::string& correction);

// Checks the task dialog's year window text ("FIRST-LAST"); kYearWindowMessage when it is none.
std::expected<YearWindow, std::string> checkYearWindow(const std::string& text);
// The first file of a task the folder holds (a task file, "source.txt" or "history.txt"), or nullopt: a new
// scan into it would replace that task.
std::optional<std::string> heldTaskFile(const std::string& folder);

// Creates a folder and its missing parents; an existing folder counts as success.
bool makeFolder(const std::string& folder);

// Checks and applies the settings dialog's task root: kTaskRootMessage when it is empty.
std::expected<void, std::string> applyTaskRoot(TaskSettings& settings, const std::string& root);

// The head of a task to load from a folder, or nullopt when the header names no range
// ("请选择正确的任务路径" then, after readTaskHeader's own message when it failed).
std::optional<TaskHead> loadHead(TaskContext& task, TaskObserver& observer, const std::string& folder,
                                 const DeviceRecord* device);

// A message for a brand that this build has no parser for, or nullopt when it has one.
std::optional<std::string> unsupportedBrandMessage(std::uint8_t brand);

// What a task has found: from the checkpoint while its scan has not finished (records and the
// bytes they cover, as the scan counted them), else from the loaded files (file entries and
// their sizes).
struct FoundTotals {
  std::uint64_t count = 0;
  std::uint64_t bytes = 0;
  bool fromCheckpoint = false;
};
FoundTotals foundTotals(const TaskContext& task);

// The task information dialog: label and value per row, in the dialog's order; the rows after
// the clock say whether the scan finished, where it stands and what it found.
std::vector<std::pair<std::string, std::string>> taskInformation(const TaskContext& task);

}  // namespace norvale
