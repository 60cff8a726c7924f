#include "task/brand_scan.h"

#include "parsers/brand_table.h"
#include "task/brand_registry.h"
#include "storage/byte_reader.h"
#include "task/result_store.h"

namespace norvale {

void TaskScanSink::found(const SegmentRecord& record) {
  m_task.status.foundBytes += record.size;
  m_task.status.foundCount += 1;
}

void TaskScanSink::addRecord(const SegmentRecord& record, std::uint64_t key) {
  if (m_task.store->holdsPending()) check(m_task.store->flushPending());  // more after the last flush
  m_task.store->addSegment(record, key);
  found(record);
}

void TaskScanSink::addRecords(std::span<const std::uint8_t> records, std::span<const std::uint64_t> keys) {
  if (m_task.store->holdsPending()) check(m_task.store->flushPending());
  m_task.store->addSerialized(records, keys);
  constexpr std::size_t kSizeAt = 29;  // of a serialised segment record
  for (std::size_t i = 0; i < keys.size(); ++i) m_task.status.foundBytes += le64(&records[i * kSegmentRecordSize + kSizeAt]);
  m_task.status.foundCount += keys.size();
}

void TaskScanSink::appendRecord(const SegmentRecord& record) {
  m_task.store->appendSegment(record);
  found(record);
}

void TaskScanSink::flushIfFull() {
  if (m_task.store->pendingCount() > kFlushThreshold) check(m_task.store->flushPending());
}

void TaskScanSink::flush() { check(m_task.store->holdPending()); }

bool TaskScanSink::arrivalsFull() const { return m_task.store->arrivalCount() > kFlushThreshold; }

void TaskScanSink::listArrivals() { check(m_task.store->listPass()); }

void TaskScanSink::listArrivalsAsFile() { check(m_task.store->listAndGroupPass()); }

void TaskScanSink::scanStarted(std::int64_t total) {
  m_task.status.code = StatusCode::ScanStart;
  m_task.status.value = total;
  m_task.notify();
}

void TaskScanSink::progress(std::int64_t value) {
  m_task.status.code = StatusCode::ScanProgress;
  m_task.status.value = value;
  m_task.notify();
}

void TaskScanSink::progress(std::int64_t value, std::uint64_t currentSector) {
  m_task.status.currentSector = currentSector;
  progress(value);
}

void TaskScanSink::check(const Result<void>& written) {
  if (written || m_failed) return;
  m_failed = true;
  m_task.postMessage("写入任务文件失败,请检查任务路径所在磁盘: " + written.error().message);
}

void runBrandScan(TaskContext& task, BrandParser& parser) {
  TaskScanSink sink(task);
  ResultStore& store = *task.store;
  const bool quick = task.parseMode == kParseQuick;
  const std::string brand = brandName(task.brand);
  sink.check(store.writeHeader(task.header()));
  task.postMessage((quick ? "正在快速解析**" : "正在深度解析**") + brand + "**视频流信息...");
  if (!sink.failed()) {
    // Reads past the page cache go through a handle of their own; the task's handle stays as
    // it is for the rebuild and the export.
    DeviceHandle direct;
    if (task.scan.directReads && task.device) direct.open(*task.device, true);
    DeviceHandle& source = direct.isOpen() && direct.ok() ? direct : task.deviceHandle;
    ScanJob job{source, task.brand, task.parseMode, task.startOffset, task.length, task.endSector, task.scan, task.zone};
    parser.scan(job, sink);
    // Only a scan that ran to its end names the sector it reached: a stopped one is unfinished.
    task.endSector = task.stopRequested() || sink.failed() ? 0 : job.endSector;
  }
  task.postMessage("正在构建重组**" + brand + "**视频流信息...");
  if (const BrandRow* row = findBrand(task.brand))
    sink.check(store.rebuild(row->rebuild(task.parseMode), task.timeConvention()));
  task.postMessage((quick ? "快速解析**" : "深度解析**") + brand + "**视频流信息完成");
  sink.check(store.writeHeader(task.header()));
}

Result<void> rebuildUnfinished(TaskContext& task) {
  if (task.complete()) return {};
  const BrandRow* row = findBrand(task.brand);
  if (!row) return {};
  auto entries = task.store->fileSize(TaskFileId::FileEntries);
  if (!entries) return std::unexpected(entries.error());
  if (*entries != 0) return {};
  const std::uint64_t limit = task.checkpoint ? task.checkpoint->rawBytes : UINT64_MAX;
  return task.store->rebuildFound(row->rebuild(task.parseMode), task.timeConvention(), limit);
}

Result<void> loadBrandFiles(TaskContext& task) {
  return loadFileMapInto(task, task.timeConvention());
}

Result<void> loadFileMapInto(TaskContext& task, const TimeConvention& convention) {
  FileMapLoadProgress progress;
  progress.started = [&](std::uint64_t count) {
    task.status.code = StatusCode::LoadStart;
    task.status.value = static_cast<std::int64_t>(count);
    task.notify();
  };
  progress.loaded = [&](std::uint64_t index, const FileEntry& entry) {
    task.status.code = StatusCode::LoadProgress;
    task.status.value = static_cast<std::int64_t>(index);
    task.status.foundBytes += entry.size;
    task.status.foundCount += 1;
    task.notify();
  };
  auto map = task.store->loadFileMap(convention, progress);
  if (!map) return std::unexpected(map.error());
  task.fileMap.insert(map->begin(), map->end());
  return {};
}

}  // namespace norvale
