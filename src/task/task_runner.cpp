#include "task/task_runner.h"

#include <array>

#include "format/task_header.h"
#include "parsers/brand_parser.h"
#include "task/brand_scan.h"
#include "task/result_store.h"

namespace norvale {
namespace {
constexpr const char* kSourceFailed = "访问源设备失败,请确认源设备是否存在";
constexpr const char* kCreateFailed = "创建任务文件失败,请检查任务路径是否被独占";
constexpr const char* kLoadFailed = "加载任务文件失败,请检查任务路径是否被独占";
constexpr const char* kHeaderFailed = "访问任务路径失败,请确认是否是原始任务路径";
constexpr const char* kZoneFailed = "录像机时区无法识别,请确认时区名称";

// Opens the task's source read-only; evidence is never opened for writing.
Result<void> openSource(TaskContext& task) {
  if (task.deviceHandle.isOpen()) task.deviceHandle.close();
  if (!task.device) return fail(ErrorCode::InvalidArgument, "no source device chosen");
  task.deviceHandle.open(*task.device);
  if (!task.deviceHandle.ok()) return std::unexpected(task.deviceHandle.lastError());
  return {};
}

std::unexpected<Error> report(TaskContext& task, const char* message, Error error) {
  task.postMessage(message);
  error.message = std::string(message) + " (" + error.message + ")";
  return std::unexpected(std::move(error));
}
}  // namespace

Result<void> runTask(TaskContext& task) {
  task.teardown();
  task.reset();
  if (auto found = task.findZone(); !found) return report(task, kZoneFailed, found.error());
  if (auto opened = openSource(task); !opened) return report(task, kSourceFailed, opened.error());
  if (auto opened = task.store->openFiles(task.taskFolder, TaskFileMode::Create); !opened)
    return report(task, kCreateFailed, opened.error());
  if (BrandParser* parser = task.parserForBrand()) runBrandScan(task, *parser);
  if (auto cut = task.store->truncateIntermediates(); !cut) return report(task, kCreateFailed, cut.error());
  return {};
}

Result<void> loadTask(TaskContext& task) {
  task.fileMap.clear();
  task.reset();
  task.store->close();
  task.deviceHandle.close();
  if (auto found = task.findZone(); !found) return report(task, kZoneFailed, found.error());
  // Without a device the task can still be listed; exporting needs the source.
  if (task.device)
    if (auto opened = openSource(task); !opened) return report(task, kSourceFailed, opened.error());
  if (auto opened = task.store->openFiles(task.taskFolder, TaskFileMode::Existing); !opened)
    return report(task, kLoadFailed, opened.error());
  if (!task.parserForBrand()) return {};
  if (auto rebuilt = rebuildUnfinished(task); !rebuilt) return report(task, kLoadFailed, rebuilt.error());
  if (auto loaded = loadBrandFiles(task); !loaded) {
    task.fileMap.clear();
    return report(task, kLoadFailed, loaded.error());
  }
  return {};
}

Result<TaskHead> readTaskHeader(TaskContext& task, const std::string& folder) {
  if (task.store) task.store->close();
  std::array<std::uint8_t, kTaskHeaderSize> header{};
  auto got = readFileHead(taskFilePath(folder, TaskFileId::RawSegments), header);
  if (!got) return report(task, kHeaderFailed, got.error());
  // A short or foreign file is refused here rather than read as a task.
  if (*got < kTaskHeaderSize) return report(task, kHeaderFailed, {ErrorCode::Corrupt, "the task header is truncated", 0});
  const auto decoded = TaskHeader::decode(header);
  if (!decoded) return report(task, kHeaderFailed, decoded.error());
  TaskHead head;
  head.parseMode = decoded->parseMode;
  head.brand = decoded->brand;
  head.startOffset = decoded->startOffset;
  head.length = decoded->length;
  head.endSector = decoded->endSector;
  head.recorderZone = decoded->zone;
  head.clockCorrection = decoded->clockCorrection;
  head.checkpoint = decoded->checkpoint;
  return head;
}

Result<void> runNewTask(TaskContext& task) {
  if (auto ran = runTask(task); !ran) return ran;
  return loadTask(task);
}

}  // namespace norvale
