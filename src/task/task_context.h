#pragma once
// The task in hand: device, brand, mode, range, folder, progress, and the objects the task owns.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "format/records.h"
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

// The part of the task the user chooses (or the task header names).
struct TaskHead {
  TaskObserver* notify = nullptr;
  std::uint32_t stopFlag = 0;
  std::uint8_t parseMode = 0;
  std::uint8_t brand = 0;
  std::uint64_t startOffset = 0;  // bytes, a multiple of 512
  std::uint64_t length = 0;       // bytes
  std::uint64_t endSector = 0;    // set when a scan ran to its end
  std::string taskFolder;
  const DeviceRecord* device = nullptr;  // not owned
  ScanOptions scan;                      // threads and reads of the scan
  // The recorder's clock. The front ends propose the workstation's zone for a new task
  // (workstationZoneName()); empty reads as the workstation's zone, as tasks written before the
  // header kept a zone do.
  std::string recorderZone;
  std::int64_t clockCorrection = 0;  // seconds to add to the recorder's clock for the true time
  std::optional<TaskCheckpoint> checkpoint;  // the header's: the scan has not finished
  // The years the recorder's times may show. A head the header names without a window has the
  // default, 2010-2020; the front ends propose YearWindow::forNewScan() for a new task.
  YearWindow years;
};

struct TaskSettings {
  std::string taskRoot;  // where new task folders are proposed
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

  TaskObserver* notifyTarget = nullptr;
  std::atomic<std::uint32_t> stopFlag{0};
  std::uint8_t parseMode = 0;
  std::uint8_t brand = 0;
  std::uint64_t startOffset = 0;
  std::uint64_t length = 0;
  std::uint64_t endSector = 0;
  std::string taskFolder;
  const DeviceRecord* device = nullptr;
  ScanOptions scan;
  std::string recorderZone;
  std::int64_t clockCorrection = 0;
  // Where the unfinished scan stands: the header names it until the scan completes.
  std::optional<TaskCheckpoint> checkpoint;
  YearWindow years;
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
  TaskSettings settings;
  ExportRecord exportRecord;
  std::map<int, int> identificationCandidates;       // brand -> hits
  std::multimap<int, int> identificationResult;      // hits -> brand
  // One slot per row of the brand table (BrandRow::slot).
  std::vector<std::unique_ptr<BrandParser>> parsers;

  void copyHead(const TaskHead& head);
  TaskHead head() const;
  // What the task header records of this task.
  TaskHeader header() const {
    return TaskHeader{parseMode, brand, startOffset, length, endSector, recorderZone, clockCorrection, checkpoint,
                      years};
  }
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

  // Creates the result store when missing, clears the status (but the current sector) and the
  // stop flag.
  void reset();
  // Closes and deletes everything of the task: store, parsers, device handle, file map.
  void teardown();
  // Creates the store and every parser that is missing.
  void createAll();
  // Sends the task notification with the current status.
  void notify();
  // Status code 1 with a message, then notify.
  void postMessage(std::string message);
  // The parser of this task's brand, created in its slot when missing; null for brand 0 or above the table's last.
  BrandParser* parserForBrand();
};

// The default task root: a folder "Norvale" in the user's home (C:\Norvale on Windows).
std::string defaultTaskRoot();

}  // namespace norvale
