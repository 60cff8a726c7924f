#include "task/task_runner.h"

#include <array>
#include <filesystem>
#include <fstream>

#include "format/task_header.h"
#include "parsers/brand_parser.h"
#include "parsers/brand_table.h"
#include "task/brand_scan.h"
#include "task/result_store.h"
#include "task/task_history.h"

namespace norvale {
namespace {
constexpr const char* kSourceFailed = "访问源设备失败,请确认源设备是否存在";
constexpr const char* kCreateFailed = "创建任务文件失败,请检查任务路径是否被独占";
constexpr const char* kLoadFailed = "加载任务文件失败,请检查任务路径是否被独占";
constexpr const char* kHeaderFailed = "访问任务路径失败,请确认是否是原始任务路径";
constexpr const char* kZoneFailed = "录像机时区无法识别,请确认时区名称";
constexpr const char* kCompleted = "任务已完成,无需继续解析";
constexpr const char* kNoCheckpoint = "任务没有断点,无法继续解析";
constexpr const char* kCheckpointFailed = "任务断点无效,无法继续解析";

// Opens the task's source read-only; evidence is never opened for writing.
Result<void> openSource(TaskContext& task) {
  if (task.deviceHandle.isOpen()) task.deviceHandle.close();
  if (!task.device) return fail(ErrorCode::InvalidArgument, "no source device chosen");
  task.deviceHandle.open(*task.device);
  if (!task.deviceHandle.ok()) return std::unexpected(task.deviceHandle.lastError());
  return {};
}

std::unexpected<Error> report(TaskContext& task, TaskObserver& observer, const char* message, Error error) {
  task.postMessage(observer, message);
  error.message = std::string(message) + " (" + error.message + ")";
  return std::unexpected(std::move(error));
}
std::string taskSourcePath(const std::string& folder) { return (std::filesystem::path(folder) / "source.txt").string(); }

void recordTaskSource(const std::string& folder, const std::string& source) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(source, ec);
  std::ofstream out(taskSourcePath(folder), std::ios::binary | std::ios::trunc);
  out << (ec ? source : absolute.string()) << "\n";
}

// Runs the brand's scan; a completed one no longer needs the intermediate files, while an
// unfinished scan keeps the raw segments and the index its checkpoint holds.
Result<ScanEnd> scanAndTrim(TaskContext& task, TaskObserver& observer, bool resumed) {
  // A brand without a parser runs none (the front ends say so before): there is nothing to wait for.
  const std::unique_ptr<BrandParser> parser = createParser(task.description().brand);
  recordScanStart(task.taskFolder, resumed, std::chrono::system_clock::now());
  Result<ScanEnd> ended = parser ? runBrandScan(task, observer, *parser) : Result<ScanEnd>(ScanEnd::Completed);
  recordScanEnd(task.taskFolder, ended && *ended == ScanEnd::Completed, std::chrono::system_clock::now());
  if (!ended || *ended != ScanEnd::Completed) return ended;
  if (auto cut = task.store->truncateIntermediates(); !cut) return report(task, observer, kCreateFailed, cut.error());
  return ended;
}

}  // namespace

Result<ScanEnd> runTask(TaskContext& task, TaskObserver& observer) {
  task.teardown();
  task.reset();
  if (auto found = task.findZone(); !found) return report(task, observer, kZoneFailed, found.error());
  if (auto opened = openSource(task); !opened) return report(task, observer, kSourceFailed, opened.error());
  if (auto opened = task.store->openFiles(task.taskFolder, TaskFileMode::Create); !opened)
    return report(task, observer, kCreateFailed, opened.error());
  // What a resume opens when it is not told the source again.
  recordTaskSource(task.taskFolder, task.device->openPath());
  task.checkpoint.reset();
  return scanAndTrim(task, observer, false);
}

std::optional<std::string> recordedTaskSource(const std::string& folder) {
  std::ifstream in(taskSourcePath(folder), std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line) || line.empty()) return std::nullopt;
  return line;
}

Result<ScanEnd> resumeTask(TaskContext& task, TaskObserver& observer) {
  const std::optional<TaskCheckpoint> checkpoint = task.checkpoint;
  task.teardown();
  task.reset();
  if (task.endSector != 0 && !checkpoint)
    return report(task, observer, kCompleted, {ErrorCode::InvalidArgument, "the task's scan completed", 0});
  if (!checkpoint)
    return report(task, observer, kNoCheckpoint, {ErrorCode::InvalidArgument, "the task header holds no checkpoint", 0});
  const std::uint64_t end = task.description().endOffset();
  if (checkpoint->resumeOffset < task.description().startOffset || checkpoint->resumeOffset > end)
    return report(task, observer, kCheckpointFailed,
                  {ErrorCode::Corrupt, "the checkpoint's resume offset lies outside the task's range", 0});
  if (auto found = task.findZone(); !found) return report(task, observer, kZoneFailed, found.error());
  if (auto opened = openSource(task); !opened) return report(task, observer, kSourceFailed, opened.error());
  if (auto opened = task.store->openFiles(task.taskFolder, TaskFileMode::Existing); !opened)
    return report(task, observer, kLoadFailed, opened.error());
  if (auto restored = task.store->restoreCheckpoint(checkpoint->rawBytes); !restored) {
    task.store->close();
    return report(task, observer, kCheckpointFailed, restored.error());
  }
  task.checkpoint = checkpoint;
  task.status.foundCount = checkpoint->foundCount;
  task.status.foundBytes = checkpoint->foundBytes;
  task.status.currentSector = checkpoint->sector;
  return scanAndTrim(task, observer, true);
}

Result<void> loadTask(TaskContext& task, TaskObserver& observer) {
  task.fileMap.clear();
  task.reset();
  task.store->close();
  task.deviceHandle.close();
  if (auto found = task.findZone(); !found) return report(task, observer, kZoneFailed, found.error());
  // Without a device the task can still be listed; exporting needs the source.
  if (task.device)
    if (auto opened = openSource(task); !opened) return report(task, observer, kSourceFailed, opened.error());
  if (auto opened = task.store->openFiles(task.taskFolder, TaskFileMode::Existing); !opened)
    return report(task, observer, kLoadFailed, opened.error());
  if (!findBrand(task.description().brand)) return {};
  if (auto rebuilt = rebuildUnfinished(task); !rebuilt) return report(task, observer, kLoadFailed, rebuilt.error());
  if (auto loaded = loadBrandFiles(task, observer); !loaded) {
    task.fileMap.clear();
    return report(task, observer, kLoadFailed, loaded.error());
  }
  return {};
}

Result<TaskHead> readTaskHeader(TaskContext& task, TaskObserver& observer, const std::string& folder) {
  if (task.store) task.store->close();
  std::array<std::uint8_t, kTaskHeaderSize> header{};
  auto got = readFileHead(taskFilePath(folder, TaskFileId::RawSegments), header);
  if (!got) return report(task, observer, kHeaderFailed, got.error());
  // A short or foreign file is refused here rather than read as a task.
  if (*got < kTaskHeaderSize) return report(task, observer, kHeaderFailed, {ErrorCode::Corrupt, "the task header is truncated", 0});
  const auto decoded = TaskHeader::decode(header);
  if (!decoded) return report(task, observer, kHeaderFailed, decoded.error());
  TaskHead head;
  head.description = decoded->description();
  head.endSector = decoded->endSector;
  head.checkpoint = decoded->checkpoint;
  return head;
}

Result<ScanEnd> runNewTask(TaskContext& task, TaskObserver& observer) {
  auto ran = runTask(task, observer);
  if (!ran) return ran;
  if (auto loaded = loadTask(task, observer); !loaded) return std::unexpected(loaded.error());
  return ran;
}

Result<ScanEnd> runResumedTask(TaskContext& task, TaskObserver& observer) {
  auto ran = resumeTask(task, observer);
  if (!ran) return ran;
  if (auto loaded = loadTask(task, observer); !loaded) return std::unexpected(loaded.error());
  return ran;
}

}  // namespace norvale
