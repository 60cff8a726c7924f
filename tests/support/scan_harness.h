#pragma once
// Runs a whole task (scan, rebuild, load) on an image built in memory and collects what a user
// would see: the notifications, the file entries and each file's exported bytes.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "storage/device_record.h"
#include "support/test_support.h"
#include "task/task_context.h"

namespace norvale::test {

// Records every notification it receives.
class RecordingObserver final : public TaskObserver {
 public:
  void onTaskStatus(const TaskStatus& status) override;
  std::vector<TaskStatus> statuses;
  std::vector<std::string> messages() const;  // code 1 texts, in order
  // Raise the task's stop flag when this many scan-progress notifications were seen.
  TaskContext* stopTask = nullptr;
  int stopAfterProgress = -1;
};

struct ScanOutcome {
  std::vector<FileEntry> files;                  // file-map order
  std::vector<std::uint64_t> keys;               // file-map keys, same order
  std::vector<std::vector<SegmentRecord>> records;  // each file's segment records
  std::vector<std::vector<std::uint8_t>> bytes;  // each file's bytes from the image
  std::vector<std::string> messages;
  std::vector<TaskStatus> statuses;
  std::uint64_t endSector = 0;
  bool ok = true;
  std::string error;
  std::optional<ScanEnd> end;  // how the scan ended, when it did not fail
};

struct ScanRequest {
  std::uint8_t brand = 18;
  std::uint8_t mode = 1;                 // 0 quick, 1 deep
  std::optional<std::uint64_t> startSector;
  std::optional<std::uint64_t> endSector;  // default: whole image, last partial sector included
  int stopAfterProgress = -1;            // raise the stop flag after N progress notifications
  std::function<void(TaskContext&)> afterScan;  // runs on the task right after a successful scan
  ScanOptions scan;                      // threads and chunks of the scan (one thread by default)
  std::string zone;                      // the recorder's; empty: the workstation's
  std::int64_t clockCorrection = 0;
  YearWindow years;                      // the task's; by default that of tasks without one
  TaskProbe* probe = nullptr;            // a test's probe of the scan and the task files
};

// The head of a scan of an image of imageSize bytes as the request asks (whole image by default,
// a trailing partial sector included).
TaskHead scanHead(const ScanRequest& request, std::uint64_t imageSize, const std::string& folder);
// The observer of a command whose notifications no test looks at.
TaskObserver& noListener();
// The observer of the scan or load the harness runs now on this thread (noListener outside
// one): a command that afterScan or afterLoad runs tells it, as the scan's own notifications.
TaskObserver& runningObserver();

// Describes the task again with a change, as a task opened with other choices would be.
void redescribe(TaskContext& task, const std::function<void(TaskDescription&)>& change);

// Gathers a finished or loaded task's files into an outcome (each image kind reads its bytes its
// own way).
using FileCollector = std::function<void(TaskContext&, ScanOutcome&)>;

// Scans dir/image.img (imageSize bytes, already written) as a task in dir/task.
ScanOutcome scanImageFile(const TempDir& dir, std::uint64_t imageSize, const ScanRequest& request,
                          const FileCollector& collect);
// Loads a task folder against an image, as a second run of the program would.
ScanOutcome loadTaskWith(const std::string& taskFolder, const std::string& imagePath, const FileCollector& collect);

// Writes image to a file in dir, scans it as a task in dir/task, and gathers the outcome. The
// task stays loadable in dir/task afterwards.
ScanOutcome scanImage(const TempDir& dir, const std::vector<std::uint8_t>& image, const ScanRequest& request);

// Opens a task folder in the task without a source (its header, then its files), telling the
// observer; the caller opens the source when it reads one.
Result<void> openTaskFolder(TaskContext& task, TaskObserver& observer, const std::string& taskFolder);

// Loads the task folder again in a fresh context (as a second run of the program would).
// afterLoad runs on the loaded task.
ScanOutcome loadTaskFolder(const std::string& taskFolder, const std::string& imagePath,
                           const std::function<void(TaskContext&)>& afterLoad = {});

// Gathers files, records and bytes of a loaded task context.
void collectFiles(TaskContext& task, const std::vector<std::uint8_t>& image, ScanOutcome& outcome);

}  // namespace norvale::test
