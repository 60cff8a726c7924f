#pragma once
// The task notification: what a worker reports, and the callback that receives it.
#include <cstdint>
#include <string>

namespace norvale {

enum class StatusCode : std::uint8_t {
  None = 0,
  Message = 1,           // show the message (an error or a completion text)
  ScanStart = 2,         // value: end of the scan range in MiB
  ScanProgress = 3,      // value: position reached in MiB
  ExportStart = 4,       // value: total export bytes in MiB
  ExportProgress = 5,    // found bytes/count: bytes and files written so far
  IdentifyStart = 6,     // value: number of sample blocks
  IdentifyProgress = 7,  // value: sample blocks done, 0 when finished
  LoadStart = 8,         // value: number of file entries
  LoadProgress = 9,      // value: index of the entry just added
};

struct TaskStatus {
  StatusCode code = StatusCode::None;
  std::int64_t value = 0;
  std::uint64_t foundBytes = 0;
  std::uint64_t foundCount = 0;
  std::uint64_t currentSector = 0;
  std::string message;
};

// Receives the task notification synchronously on the worker's thread: the worker waits until
// the call returns, so the status may be read without locking during the call.
class TaskObserver {
 public:
  virtual ~TaskObserver() = default;
  virtual void onTaskStatus(const TaskStatus& status) = 0;
};

// Hears nothing: the observer of a command whose progress nobody shows.
class SilentObserver final : public TaskObserver {
 public:
  void onTaskStatus(const TaskStatus&) override {}
};

}  // namespace norvale
