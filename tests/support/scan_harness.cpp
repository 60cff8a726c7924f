#include "support/scan_harness.h"

#include "support/task_trace.h"
#include "task/result_store.h"
#include "task/task_runner.h"

namespace norvale::test {

void RecordingObserver::onTaskStatus(const TaskStatus& status) {
  statuses.push_back(status);
  if (stopTask && status.code == StatusCode::ScanProgress && --stopAfterProgress == 0) stopTask->requestStop();
}

std::vector<std::string> RecordingObserver::messages() const {
  std::vector<std::string> out;
  for (const auto& s : statuses)
    if (s.code == StatusCode::Message) out.push_back(s.message);
  return out;
}

void collectFiles(TaskContext& task, const std::vector<std::uint8_t>& image, ScanOutcome& outcome) {
  for (const auto& [key, entry] : task.fileMap) {
    outcome.files.push_back(entry);
    outcome.keys.push_back(key);
    auto records = task.store->readFileRecords(entry, 0, entry.recordCount());
    std::vector<std::uint8_t> bytes;
    if (records) {
      for (const auto& r : *records)
        for (std::uint64_t i = 0; i < r.size; ++i)
          bytes.push_back(r.deviceOffset + i < image.size() ? image[r.deviceOffset + i] : 0);
      outcome.records.push_back(*records);
    } else {
      outcome.records.emplace_back();
    }
    outcome.bytes.push_back(std::move(bytes));
  }
}

TaskHead scanHead(const ScanRequest& request, std::uint64_t imageSize, const std::string& folder) {
  const std::uint64_t start = request.startSector.value_or(0);
  const std::uint64_t end = request.endSector.value_or((imageSize + 511) / 512);
  TaskHead head;
  head.description = TaskDescription{request.brand,
                                     request.mode,
                                     start * 512,
                                     end > start ? (end - start) * 512 : 0,
                                     request.zone,
                                     request.clockCorrection,
                                     request.years};
  head.taskFolder = folder;
  head.scan = request.scan;
  return head;
}

void redescribe(TaskContext& task, const std::function<void(TaskDescription&)>& change) {
  TaskHead head = task.head();
  change(head.description);
  task.describe(head);
}

namespace {
thread_local TaskObserver* t_runningObserver = nullptr;

// Names the observer of the scan or load that runs on this thread for as long as it runs.
class RunningObserver {
 public:
  explicit RunningObserver(TaskObserver& observer) : m_before(t_runningObserver) { t_runningObserver = &observer; }
  ~RunningObserver() { t_runningObserver = m_before; }

 private:
  TaskObserver* m_before;
};
}  // namespace

TaskObserver& noListener() {
  static SilentObserver silent;
  return silent;
}

TaskObserver& runningObserver() { return t_runningObserver ? *t_runningObserver : noListener(); }

ScanOutcome scanImageFile(const TempDir& dir, std::uint64_t imageSize, const ScanRequest& request,
                          const FileCollector& collect) {
  const std::string folder = dir.file("task");
  std::filesystem::create_directories(folder);
  DeviceRecord device = makeImageRecord(dir.file("image.img"), 0);
  RecordingObserver observer;
  TaskContext task;
  observer.stopTask = &task;
  observer.stopAfterProgress = request.stopAfterProgress;
  const RunningObserver running(observer);
  TaskHead head = scanHead(request, imageSize, folder);
  head.device = &device;
  task.describe(head);
  task.probe = request.probe;

  ScanOutcome outcome;
  auto ran = runNewTask(task, observer);
  if (!ran) {
    outcome.ok = false;
    outcome.error = ran.error().message;
  } else {
    outcome.end = *ran;
  }
  outcome.endSector = task.endSector;
  if (ran) collect(task, outcome);
  outcome.messages = observer.messages();
  outcome.statuses = observer.statuses;
  traceTask("scan", folder, outcome);
  return outcome;
}

ScanOutcome scanImage(const TempDir& dir, const std::vector<std::uint8_t>& image, const ScanRequest& request) {
  writeFile(dir.file("image.img"), image);
  return scanImageFile(dir, image.size(), request, [&](TaskContext& task, ScanOutcome& outcome) {
    collectFiles(task, image, outcome);
    if (request.afterScan) request.afterScan(task);
  });
}

Result<void> openTaskFolder(TaskContext& task, TaskObserver& observer, const std::string& taskFolder) {
  auto head = readTaskHeader(task, observer, taskFolder);
  if (!head) return std::unexpected(head.error());
  head->taskFolder = taskFolder;
  task.describe(*head);
  return loadTask(task, observer);
}

ScanOutcome loadTaskWith(const std::string& taskFolder, const std::string& imagePath, const FileCollector& collect) {
  ScanOutcome outcome;
  DeviceRecord device = makeImageRecord(imagePath, 0);
  RecordingObserver observer;
  TaskContext task;
  const RunningObserver running(observer);
  auto head = readTaskHeader(task, observer, taskFolder);
  if (!head) {
    outcome.ok = false;
    outcome.error = head.error().message;
    outcome.messages = observer.messages();
    return outcome;
  }
  head->taskFolder = taskFolder;
  head->device = &device;
  task.describe(*head);
  auto loaded = loadTask(task, observer);
  if (!loaded) {
    outcome.ok = false;
    outcome.error = loaded.error().message;
  } else {
    collect(task, outcome);
  }
  outcome.endSector = task.endSector;
  outcome.messages = observer.messages();
  outcome.statuses = observer.statuses;
  traceTask("load", taskFolder, outcome);
  return outcome;
}

ScanOutcome loadTaskFolder(const std::string& taskFolder, const std::string& imagePath,
                           const std::function<void(TaskContext&)>& afterLoad) {
  return loadTaskWith(taskFolder, imagePath, [&](TaskContext& task, ScanOutcome& outcome) {
    collectFiles(task, readFile(imagePath), outcome);
    if (afterLoad) afterLoad(task);
  });
}

}  // namespace norvale::test
