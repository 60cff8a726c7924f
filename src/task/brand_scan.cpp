#include "task/brand_scan.h"

#include "parsers/brand_table.h"
#include "task/brand_registry.h"
#include "base/byte_reader.h"
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
  for (std::size_t i = 0; i < keys.size(); ++i) m_task.status.foundBytes += le64(&records[i * kSegmentRecordSize + segment_layout::kSizeAt]);
  m_task.status.foundCount += keys.size();
}

void TaskScanSink::appendRecord(const SegmentRecord& record) {
  m_arrivals = true;
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
  m_task.notify(m_observer);
}

void TaskScanSink::progress(std::int64_t value) {
  m_task.status.code = StatusCode::ScanProgress;
  m_task.status.value = value;
  m_task.notify(m_observer);
  if (m_task.probe) m_task.probe->reached(ScanMoment::Progress);
}

bool TaskScanSink::checkpointDue() const {
  if (m_failed || m_arrivals) return false;
  const double interval = m_task.scan.checkpointSeconds;
  return interval <= 0 ||
         std::chrono::duration<double>(std::chrono::steady_clock::now() - m_lastCheckpoint).count() >= interval;
}

// The order makes the checkpoint hold whatever moment the process dies at: the records go out
// and are made durable first, the header that claims them last. Until the header is durable the
// previous checkpoint stands; records written after its rawBytes are cut away on resume.
void TaskScanSink::checkpoint(std::uint64_t position, std::uint64_t resumeOffset) {
  if (m_failed || m_arrivals) return;
  ResultStore& store = *m_task.store;
  check(store.flushPending());
  if (m_task.probe) m_task.probe->reached(ScanMoment::Flush);
  if (!m_failed) check(store.syncFiles());
  if (m_failed) return;
  // The sector the position lies in, rounded up: the resume offset is never past it.
  m_task.checkpoint = TaskCheckpoint{(position + 511) / 512, resumeOffset, store.rawLength(), m_task.status.foundCount,
                                     m_task.status.foundBytes};
  check(store.writeHeader(m_task.header()));
  if (!m_failed) check(store.syncFiles());
  m_lastCheckpoint = std::chrono::steady_clock::now();
  if (!m_failed && m_task.checkpointMade) m_task.checkpointMade();
}

void TaskScanSink::progress(std::int64_t value, std::uint64_t currentSector) {
  m_task.status.currentSector = currentSector;
  progress(value);
}

void TaskScanSink::check(const Result<void>& written) {
  if (written || m_failed) return;
  m_failed = true;
  m_error = written.error();
  m_error->message = "写入任务文件失败,请检查任务路径所在磁盘: " + written.error().message;
  m_task.postMessage(m_observer, m_error->message);
}

Result<ScanEnd> runBrandScan(TaskContext& task, TaskObserver& observer, BrandParser& parser) {
  TaskScanSink sink(task, observer);
  ResultStore& store = *task.store;
  const TaskDescription& described = task.description();
  const bool quick = described.parseMode == kParseQuick;
  const std::string brand = brandName(described.brand);
  // A new scan starts with the checkpoint of its range's start: killed before its first
  // checkpoint, it resumes from the beginning.
  if (!task.checkpoint)
    task.checkpoint = TaskCheckpoint{described.startOffset / 512, described.startOffset, kTaskHeaderSize, 0, 0};
  const std::uint64_t from = task.checkpoint->resumeOffset;
  sink.check(store.writeHeader(task.header()));
  if (!sink.failed()) sink.check(store.syncFiles());
  bool walked = false;
  std::uint64_t reached = 0;
  task.postMessage(observer, (quick ? "正在快速解析**" : "正在深度解析**") + brand + "**视频流信息...");
  if (!sink.failed()) {
    // Reads past the page cache go through a handle of their own; the task's handle stays as
    // it is for the rebuild and the export.
    DeviceHandle direct;
    if (task.scan.directReads && task.device) direct.open(*task.device, true);
    DeviceHandle& source = direct.isOpen() && direct.ok() ? direct : task.deviceHandle;
    ScanJob job{source, described, from, described.endOffset() - from, task.endSector, task.scan, task.zone};
    parser.scan(job, sink);
    walked = !task.stopRequested() && !sink.failed();
    reached = job.endSector;
  }
  // Until its header says otherwise the scan is unfinished: a stopped one, and one that fails
  // from here on, keeps its last checkpoint, which the files still hold.
  task.endSector = 0;
  task.postMessage(observer, "正在构建重组**" + brand + "**视频流信息...");
  if (const BrandRow* row = findBrand(described.brand))
    if (!sink.failed()) sink.check(store.rebuild(row->rebuild(described.parseMode), task.timeConvention()));
  if (task.probe) task.probe->reached(ScanMoment::Rebuilt);
  if (walked && !sink.failed()) {
    // The rebuilt files are durable before the header that names the end claims them. A
    // completed scan's header has no checkpoint, as if it had never been interrupted.
    sink.check(store.syncFiles());
    const std::optional<TaskCheckpoint> last = task.checkpoint;
    if (!sink.failed()) {
      task.endSector = reached;
      task.checkpoint.reset();
      sink.check(store.writeHeader(task.header()));
      if (!sink.failed()) sink.check(store.syncFiles());
    }
    if (sink.failed()) {
      // The header may hold the end without being durable: it names the checkpoint again.
      task.endSector = 0;
      task.checkpoint = last;
      (void)store.writeHeader(task.header());
    }
  } else if (!sink.failed()) {
    sink.check(store.writeHeader(task.header()));
  }
  if (sink.failed()) return std::unexpected(*sink.error());
  task.postMessage(observer, (quick ? "快速解析**" : "深度解析**") + brand + "**视频流信息完成");
  return walked ? ScanEnd::Completed : ScanEnd::Stopped;
}

Result<void> rebuildUnfinished(TaskContext& task) {
  if (task.complete()) return {};
  const BrandRow* row = findBrand(task.description().brand);
  if (!row) return {};
  auto entries = task.store->fileSize(TaskFileId::FileEntries);
  if (!entries) return std::unexpected(entries.error());
  if (*entries != 0) return {};
  const std::uint64_t limit = task.checkpoint ? task.checkpoint->rawBytes : UINT64_MAX;
  return task.store->rebuildFound(row->rebuild(task.description().parseMode), task.timeConvention(), limit);
}

std::unique_ptr<BrandParser> createParser(std::uint8_t brand) {
  const BrandRow* row = findBrand(brand);
  return row ? row->create() : nullptr;
}

Result<void> loadBrandFiles(TaskContext& task, TaskObserver& observer) {
  return loadFileMapInto(task, observer, task.timeConvention());
}

Result<void> loadFileMapInto(TaskContext& task, TaskObserver& observer, const TimeConvention& convention) {
  FileMapLoadProgress progress;
  progress.started = [&](std::uint64_t count) {
    task.status.code = StatusCode::LoadStart;
    task.status.value = static_cast<std::int64_t>(count);
    task.notify(observer);
  };
  progress.loaded = [&](std::uint64_t index, const FileEntry& entry) {
    task.status.code = StatusCode::LoadProgress;
    task.status.value = static_cast<std::int64_t>(index);
    task.status.foundBytes += entry.size;
    task.status.foundCount += 1;
    task.notify(observer);
  };
  auto map = task.store->loadFileMap(convention, progress);
  if (!map) return std::unexpected(map.error());
  task.fileMap.insert(map->begin(), map->end());
  return {};
}

}  // namespace norvale
