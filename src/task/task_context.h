#pragma once
// The task in hand: device, brand, mode, range, folder, progress, and the objects the task owns.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <memory>
#include <string>

#include "format/records.h"
#include "format/task_description.h"
#include "format/task_header.h"
#include "parsers/scan_options.h"
#include "format/time_convention.h"
#include "format/time_zone.h"
#include "storage/device_handle.h"
#include "storage/device_record.h"
#include "task/task_probe.h"
#include "task/task_status.h"
#include "parsers/brand_table.h"

namespace norvale {

class ResultStore;
class BrandParser;

// How a scan ended that did not fail: the value the runner, the command line and the desktop
// program act on (a failure is the error instead).
enum class ScanEnd {
  Completed,  // walked to its end, rebuilt, and its final header durable
  Stopped,    // by the user or a source that went away; its last checkpoint stays
};

// What a task is opened with: its description, where its scan stands as the header names it,
// its folder and its source.
struct TaskHead {
  TaskDescription description;
  std::uint64_t endSector = 0;               // set when a scan ran to its end
  std::optional<TaskCheckpoint> checkpoint;  // the header's: the scan has not finished
  std::string taskFolder;
  const DeviceRecord* device = nullptr;  // not owned
  ScanOptions scan;                      // threads and reads of the scan
};

struct ExportRecord {
  std::uint32_t option = 1;
  std::string folder;
  std::uint64_t totalBytes = 0;
  std::uint64_t totalItems = 0;
};

struct TaskContext {
  TaskContext();
  ~TaskContext();
  TaskContext(const TaskContext&) = delete;
  TaskContext& operator=(const TaskContext&) = delete;

  std::atomic<std::uint32_t> stopFlag{0};
  // Where the scan stands: the sector a completed scan reached, and the checkpoint the header
  // names until the scan completes. The scan writes them; everything else reads them.
  std::uint64_t endSector = 0;
  std::optional<TaskCheckpoint> checkpoint;
  std::string taskFolder;
  const DeviceRecord* device = nullptr;
  ScanOptions scan;
  // Test hook: runs right after each checkpoint is durable, on the scanning thread.
  std::function<void()> checkpointMade;
  // A test's probe of the scan and the task files (not owned); null in use.
  TaskProbe* probe = nullptr;
  // The recorder's zone once the runner or loader found it; null: the workstation's.
  const TimeZone* zone = nullptr;

  TaskStatus status;
  std::unique_ptr<ResultStore> store;
  FileMap fileMap;
  DeviceHandle deviceHandle;
  // The last run that wrote chosen files: its folder and totals (task/file_run.h writes it).
  ExportRecord exportRecord;

  // Opens the task as the head names it: its description from now on, its scan's standing, its
  // folder and source. The zone is looked up again by the next run or load.
  void describe(const TaskHead& head);
  const TaskDescription& description() const { return m_description; }
  TaskHead head() const;
  // What the task header records of this task.
  TaskHeader header() const { return TaskHeader::of(m_description, endSector, checkpoint); }
  // A scan of this task ran to its end: the header names the sector it reached.
  bool complete() const { return endSector != 0; }
  // The brand's time convention in the recorder's zone, with the correction: what every view,
  // listing, report and file name shows.
  TimeConvention timeConvention() const;
  // Looks the recorder's zone up (none for an empty name); fails for a zone this workstation's
  // zone database does not know.
  Result<void> findZone();
  bool stopRequested() const { return stopFlag.load(std::memory_order_relaxed) != 0; }
  void requestStop() { stopFlag.store(1, std::memory_order_relaxed); }
  // Forgets a stop meant for a command that has ended.
  void clearStop() { stopFlag.store(0); }

  // Creates the result store when missing, clears the status (but the current sector) and the
  // stop flag.
  void reset();
  // Closes and deletes everything of the task: store, device handle, file map.
  void teardown();
  // Sends the task notification with the current status to the observer of the command that
  // runs: each command is given its own.
  void notify(TaskObserver& observer) const { observer.onTaskStatus(status); }
  // Status code 1 with a message, then notify.
  void postMessage(TaskObserver& observer, std::string message);

 private:
  TaskDescription m_description;
};

}  // namespace norvale
