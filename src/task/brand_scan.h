#pragma once
// Runs a brand's parser as a task: the sink that carries the parser's records into the task's
// result store and its notifications to the observer, the sequence of a scan (header, scan,
// rebuild, header again, with their messages), and the loading of the file map.
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "base/error.h"
#include "parsers/brand_parser.h"
#include "parsers/scan_sink.h"
#include "task/scan_wording.h"
#include "task/task_context.h"

namespace norvale {

class TaskScanSink final : public ScanSink {
 public:
  TaskScanSink(TaskContext& task, TaskObserver& observer) : m_task(task), m_observer(observer) {}

  void addRecord(const SegmentRecord& record, std::uint64_t key) override;
  void addRecords(std::span<const std::uint8_t> records, std::span<const std::uint64_t> keys) override;
  void appendRecord(const SegmentRecord& record) override;
  void flushIfFull() override;
  void flush() override;
  bool arrivalsFull() const override;
  void listArrivals() override;
  void listArrivalsAsFile() override;
  void scanStarted(std::int64_t total) override;
  void progress(std::int64_t value) override;
  void progress(std::int64_t value, std::uint64_t currentSector) override;
  void report(const ScanNotice& notice) override { m_task.postMessage(m_observer, scanNoticeText(notice)); }
  bool stopRequested() const override { return m_task.stopRequested(); }
  void requestStop() override { m_task.requestStop(); }
  bool failed() const override { return m_failed; }
  bool checkpointDue() const override;
  void checkpoint(std::uint64_t position, std::uint64_t resumeOffset) override;

  // A task-file write failed: said once, and the scan stops; what was stored so far is kept.
  void check(const Result<void>& written);
  // The first failure, as said.
  const std::optional<Error>& error() const { return m_error; }

 private:
  void found(const SegmentRecord& record);

  TaskContext& m_task;
  TaskObserver& m_observer;
  bool m_failed = false;
  std::optional<Error> m_error;
  bool m_arrivals = false;  // an arrival list was started: it lives in memory, no checkpoint holds it
  std::chrono::steady_clock::time_point m_lastCheckpoint = std::chrono::steady_clock::now();
};

// Scans the task's range with the parser in the task's mode, rebuilds the files as the brand's
// row names, and writes the task header before and after. A task with a checkpoint (a resumed
// one, its files restored to it) is scanned from the checkpoint's resume offset; the header
// keeps a checkpoint until the scan completes. Completed only once the rebuild and the header
// that names the end are durable; any failed write, read or fsync of the task files is the
// error (said once to the observer), and the header on disk keeps the last checkpoint.
Result<ScanEnd> runBrandScan(TaskContext& task, TaskObserver& observer, BrandParser& parser);
// A parser for one scan of a brand, which lives as long as that scan; null for a brand the
// table has no row for.
std::unique_ptr<BrandParser> createParser(std::uint8_t brand);
// A task whose scan did not finish and left no file entries (it died before its rebuild): its
// records up to the checkpoint (or the whole raw file without one) are rebuilt into files in
// the task folder, as the brand's row names. Anything else is left as it is.
Result<void> rebuildUnfinished(TaskContext& task);
// Loads the file map of the task's open store in the task's time convention (the recorder's
// zone and correction decide the days), with the load notifications to the observer.
Result<void> loadBrandFiles(TaskContext& task, TaskObserver& observer);
// The same in a given time convention: entries are added to the task's file map.
Result<void> loadFileMapInto(TaskContext& task, TaskObserver& observer, const TimeConvention& convention);

}  // namespace norvale
