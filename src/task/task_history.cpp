#include "task/task_history.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "format/utc_time.h"

namespace norvale {
namespace {

std::string historyPath(const std::string& folder) {
  return (std::filesystem::u8path(folder) / kTaskHistoryName).string();
}

// Tabs and line ends would break the line form; paths of ours hold neither.
std::string field(std::string text) {
  for (char& c : text)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return text;
}

Result<void> append(const std::string& folder, const std::string& lines) {
  std::ofstream out(historyPath(folder), std::ios::binary | std::ios::app);
  out << lines;
  out.close();
  if (!out) return fail(ErrorCode::WriteFailed, "cannot write " + historyPath(folder));
  return {};
}

}  // namespace

std::string utcDateTime(std::chrono::system_clock::time_point at) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(at.time_since_epoch()).count();
  return isoDateTimeText(civilCalendar(seconds)) + "Z";
}

std::string absolutePath(const std::string& path) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(std::filesystem::u8path(path), ec);
  return ec ? path : absolute.string();
}

void recordScanStart(const std::string& folder, bool resumed, std::chrono::system_clock::time_point at) {
  // The history is a record for the report; a scan never fails for it.
  (void)append(folder, std::string(resumed ? "scan-resumed" : "scan-started") + "\t" + utcDateTime(at) + "\n");
}

void recordScanEnd(const std::string& folder, bool finished, std::chrono::system_clock::time_point at) {
  (void)append(folder, std::string(finished ? "scan-finished" : "scan-stopped") + "\t" + utcDateTime(at) + "\n");
}

Result<void> recordOutputs(const std::string& folder, const std::vector<OutputEvent>& outputs) {
  std::string lines;
  for (const OutputEvent& o : outputs) lines += field(o.kind) + "\t" + field(o.sha256) + "\t" + field(o.path) + "\n";
  if (lines.empty()) return {};
  return append(folder, lines);
}

TaskHistory readTaskHistory(const std::string& folder) {
  TaskHistory history;
  std::ifstream in(historyPath(folder), std::ios::binary);
  std::map<std::string, std::size_t> byPath;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> parts;
    std::stringstream fields(line);
    for (std::string part; std::getline(fields, part, '\t');) parts.push_back(part);
    if (parts.size() == 2 && (parts[0] == "scan-started" || parts[0] == "scan-resumed")) {
      history.scans.push_back({parts[1], "", parts[0] == "scan-resumed", false});
    } else if (parts.size() == 2 && (parts[0] == "scan-finished" || parts[0] == "scan-stopped")) {
      if (history.scans.empty() || !history.scans.back().ended.empty()) continue;  // an end without its start
      history.scans.back().ended = parts[1];
      history.scans.back().finished = parts[0] == "scan-finished";
    } else if (parts.size() == 3 && (parts[0] == "export" || parts[0] == "convert")) {
      OutputEvent event{parts[0], parts[1], parts[2]};
      if (auto found = byPath.find(event.path); found != byPath.end()) history.outputs[found->second] = event;
      else {
        byPath[event.path] = history.outputs.size();
        history.outputs.push_back(event);
      }
    }
  }
  return history;
}

}  // namespace norvale
