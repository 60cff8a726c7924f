#include "cli/cli_support.h"

#include "storage/device_handle.h"
#include "storage/partition_scan.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <iostream>

#include <unistd.h>

#include "storage/device_handle.h"
#include "task/task_runner.h"

namespace norvale::cli {

std::optional<std::string> Options::parse(int argc, char** argv, const std::vector<std::string>& valued,
                                          const std::vector<std::string>& flags) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (std::find(flags.begin(), flags.end(), arg) != flags.end()) {
      m_flags[arg] = true;
    } else if (std::find(valued.begin(), valued.end(), arg) != valued.end()) {
      if (i + 1 >= argc) return "option " + arg + " needs a value";
      m_values.emplace(arg, argv[++i]);
    } else {
      return "unknown option: " + arg;
    }
  }
  return std::nullopt;
}

std::optional<std::string> Options::value(const std::string& name) const {
  auto it = m_values.find(name);
  if (it == m_values.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> Options::values(const std::string& name) const {
  std::vector<std::string> out;
  auto [a, b] = m_values.equal_range(name);
  for (auto it = a; it != b; ++it) out.push_back(it->second);
  return out;
}

std::optional<std::uint64_t> parseUnsigned(const std::string& text) {
  std::uint64_t v = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc{} || ptr != text.data() + text.size() || text.empty()) return std::nullopt;
  return v;
}

std::optional<std::int64_t> parseSigned(const std::string& text) {
  const bool plus = !text.empty() && text.front() == '+';
  const char* first = text.data() + (plus ? 1 : 0);
  const char* last = text.data() + text.size();
  std::int64_t v = 0;
  auto [ptr, ec] = std::from_chars(first, last, v);
  if (ec != std::errc{} || ptr != last || first == last || (plus && *first == '-')) return std::nullopt;
  return v;
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

Result<DeviceRecord> sourceRecord(const std::string& path) {
  DeviceRecord record = makeImageRecord(path, 0);
  DeviceHandle probe;
  probe.open(record);
  if (!probe.ok()) return std::unexpected(probe.lastError());
  record.size = probe.size();
  // What an incomplete set lacks reads as bad sectors; say why before the work starts.
  if (probe.evidenceInfo().incomplete)
    std::cerr << "norvale-cli: warning: the EWF set " << path
              << " is incomplete (a segment is missing or cut short); the data it lacks reads as errors\n";
  return record;
}

std::string checkpointPosition(const TaskContext& task) {
  if (!task.checkpoint) return "position not recorded";
  const TaskDescription& range = task.description();
  const std::uint64_t reached = task.checkpoint->sector * 512;
  const std::uint64_t done = reached > range.startOffset ? std::min(reached - range.startOffset, range.length) : 0;
  const double gib = 1024.0 * 1024.0 * 1024.0;
  char text[160];
  std::snprintf(text, sizeof text, "sector %llu, %.1f%% of the range (%.2f of %.2f GiB)",
                static_cast<unsigned long long>(task.checkpoint->sector),
                range.length ? 100.0 * static_cast<double>(done) / static_cast<double>(range.length) : 0.0,
                static_cast<double>(done) / gib, static_cast<double>(range.length) / gib);
  return text;
}

std::string unfinishedLine(const TaskContext& task) {
  return "norvale-cli: 扫描未完成 (the scan did not finish: " + checkpointPosition(task) +
         "); what it found so far is used";
}

std::optional<int> openQuietly(TaskContext& task, const std::string& folder, const DeviceRecord& source) {
  ProgressPrinter silent(&task, true);
  auto opened = openTask(task, silent, folder, &source);
  if (!opened) return failure(opened.error().message);
  return std::nullopt;
}

Result<void> openTask(TaskContext& task, TaskObserver& observer, const std::string& folder, const DeviceRecord* source,
                      bool quietAboutUnfinished) {
  auto head = readTaskHeader(task, observer, folder);
  if (!head) return std::unexpected(head.error());
  if (static_cast<std::int64_t>(head->description.length) <= 0)
    return fail(ErrorCode::Corrupt, "请选择正确的任务路径 (the task header names an empty range)");
  head->taskFolder = folder;
  head->device = source;
  task.describe(*head);
  auto loaded = loadTask(task, observer);
  if (loaded && !task.complete() && !quietAboutUnfinished) std::cerr << unfinishedLine(task) << "\n";
  return loaded;
}

std::string commandLineText(int argc, char** argv) {
  std::string line = "norvale-cli";
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool plain = !arg.empty() && arg.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                             "0123456789-_./:=+,@%") == std::string::npos;
    line += " ";
    if (plain) {
      line += arg;
      continue;
    }
    line += "'";
    for (char c : arg) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += "'";
  }
  return line;
}

int usageError(const std::string& message) {
  std::cerr << "norvale-cli: " << message << "\n(run norvale-cli --help for the commands)\n";
  return kExitUsage;
}

int failure(const std::string& message) {
  std::cerr << "norvale-cli: " << message << "\n";
  return kExitFailure;
}

ProgressPrinter::ProgressPrinter(const TaskContext* task, bool quiet)
    : m_task(task), m_quiet(quiet), m_terminal(::isatty(STDERR_FILENO) == 1) {}

void ProgressPrinter::finishLine() {
  if (m_lineOpen) std::cerr << "\n";
  m_lineOpen = false;
}

void ProgressPrinter::showProgress(const std::string& text, bool force) {
  if (m_quiet) return;
  const std::int64_t now = monotonicSeconds();
  if (m_terminal) {
    std::cerr << "\r\033[K" << text << std::flush;
    m_lineOpen = true;
  } else if (force || m_lastPrint < 0 || now - m_lastPrint >= 5) {
    std::cerr << text << "\n";
    m_lastPrint = now;
  }
}

void ProgressPrinter::onTaskStatus(const TaskStatus& status) {
  if (m_task) m_presenter.setScanRange(m_task->description().startOffset, m_task->description().length);
  const StatusView view = m_presenter.present(status, monotonicSeconds());
  if (view.logMessage) {
    finishLine();
    std::cerr << "[信息] " << logTimeText() << "  " << *view.logMessage << "\n";
    return;
  }
  if (view.progressRange) m_range = *view.progressRange;
  if (view.countText) m_count = *view.countText;
  if (view.speedText) m_speed = *view.speedText;
  if (status.code == StatusCode::ScanProgress || status.code == StatusCode::ExportProgress) {
    std::string bar;
    if (m_terminal && view.progressPosition && m_range > 0) {
      const int filled = static_cast<int>(std::min<std::int64_t>(20, *view.progressPosition * 20 / m_range));
      bar = "[" + std::string(filled, '#') + std::string(20 - filled, '.') + "] ";
    }
    const std::string line = status.code == StatusCode::ScanProgress ? bar + m_count + "  " + m_speed : bar + m_speed;
    showProgress(line, false);
  }
}

std::variant<YearWindow, int> chooseYearWindow(const Options& options) {
  const auto text = options.value("--years");
  if (!text) return YearWindow::forNewScan();
  if (auto window = YearWindow::parse(*text)) return *window;
  return usageError("--years takes FIRST-LAST, two years from " + std::to_string(YearWindow::kEarliestYear) + " to " +
                    std::to_string(YearWindow::kLatestYear) + " with FIRST <= LAST, for instance 2000-2030");
}

std::variant<SectorRange, int> chooseSectorRange(const Options& options, const DeviceRecord& source,
                                                 const char* pastEndNote) {
  const std::uint64_t sourceSectors = (source.size + 511) / 512;
  SectorRange range{0, sourceSectors};
  if (auto k = options.value("--partition")) {
    if (options.value("--start-sector") || options.value("--end-sector"))
      return usageError("--partition replaces --start-sector and --end-sector");
    const auto index = parseUnsigned(*k);
    if (!index || *index > 1000) return usageError("--partition takes the number of a listed partition, from 0");
    DeviceHandle handle;
    handle.open(source);
    auto partition = findPartition(handle, source, static_cast<int>(*index));
    if (!partition) return failure(partition.error().message);
    range.start = partition->start / 512;
    range.end = (partition->start + partition->size + 511) / 512;
    std::cerr << "partition " << *index << " (" << partition->name << "): sectors " << range.start << " to "
              << range.end << "\n";
    if (range.start >= range.end) return failure("partition " + std::to_string(*index) + " is empty");
    return range;
  }
  if (auto s = options.value("--start-sector")) {
    auto v = parseUnsigned(*s);
    if (!v) return usageError("--start-sector takes a sector number");
    range.start = *v;
  }
  if (auto e = options.value("--end-sector")) {
    auto v = parseUnsigned(*e);
    if (!v) return usageError("--end-sector takes a sector number");
    range.end = *v;
  }
  if (range.start >= range.end) return usageError("请正确填写开始扇区和结束扇区 【开始扇区<结束扇区】");
  if (range.end > UINT64_MAX / 512) return usageError("--end-sector lies beyond any disk");
  if (range.end > sourceSectors)
    std::cerr << "norvale-cli: the range ends at sector " << range.end << " but the source has " << sourceSectors
              << " sectors; " << pastEndNote << "\n";
  return range;
}

namespace {
// A signal handler can reach nothing else: the one task a signal may stop, and whether it did.
std::atomic<TaskContext*> g_interruptTarget{nullptr};
std::atomic<bool> g_interrupted{false};
extern "C" void onInterrupt(int) {
  g_interrupted.store(true);
  if (TaskContext* task = g_interruptTarget.load()) task->requestStop();
  std::signal(SIGINT, SIG_DFL);
}
}  // namespace

bool interrupted() { return g_interrupted.load(); }

void stopOnInterrupt(TaskContext& task) {
  g_interruptTarget.store(&task);
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
}

std::vector<std::uint64_t> FileChoice::positions(const FileMap& map) const {
  std::vector<std::uint64_t> out;
  std::uint64_t position = 0;
  for (const auto& [key, entry] : map) {
    const bool channelOk = !channel || entry.channel == *channel;
    const bool dayOk = !day || static_cast<std::uint32_t>(key) == *day;
    if (channelOk && dayOk) out.push_back(position);
    ++position;
  }
  return out;
}

std::optional<std::string> readFileChoice(const Options& options, FileChoice& choice) {
  if (auto c = options.value("--channel")) {
    choice.channel = parseUnsigned(*c);
    if (!choice.channel || *choice.channel > 255) return "--channel takes a channel number";
  }
  if (auto d = options.value("--day")) {
    int y = 0, m = 0, dd = 0;
    char tail = 0;
    if (std::sscanf(d->c_str(), "%4d-%2d-%2d%c", &y, &m, &dd, &tail) != 3 || m < 1 || m > 12 || dd < 1 || dd > 31)
      return "--day takes a date as YYYY-MM-DD";
    choice.day = calendarCode(y, m, dd);
  }
  return std::nullopt;
}

}  // namespace norvale::cli
