#pragma once
// "history.txt" in a task folder: when each scan of the task started and ended (and whether it
// finished), and the files export and conversion wrote from it, with their SHA-256. The log
// report lists them under how the result was made. Lines are appended, one event each, tab
// separated; a task folder without the file (written before it was kept) has no history.
#include <chrono>
#include <string>
#include <vector>

#include "base/error.h"

namespace norvale {

inline constexpr const char* kTaskHistoryName = "history.txt";

struct ScanEvent {
  std::string started;  // "YYYY-MM-DDTHH:MM:SSZ"
  std::string ended;    // empty: no end recorded (the scan was cut off)
  bool resumed = false;
  bool finished = false;  // ran to the end of its range
};

struct OutputEvent {
  std::string kind;  // "export" or "convert"
  std::string sha256;
  std::string path;
};

struct TaskHistory {
  std::vector<ScanEvent> scans;
  std::vector<OutputEvent> outputs;  // one per path, the latest; in the order first written
};

// "YYYY-MM-DDTHH:MM:SSZ" (an xs:dateTime in UTC).
std::string utcDateTime(std::chrono::system_clock::time_point at);

// The path made absolute (as it is when that fails), for a record that outlives the current folder.
std::string absolutePath(const std::string& path);

void recordScanStart(const std::string& folder, bool resumed, std::chrono::system_clock::time_point at);
void recordScanEnd(const std::string& folder, bool finished, std::chrono::system_clock::time_point at);
Result<void> recordOutputs(const std::string& folder, const std::vector<OutputEvent>& outputs);
TaskHistory readTaskHistory(const std::string& folder);

}  // namespace norvale
