#pragma once
// Small pieces the commands share: option parsing, JSON text, progress on stderr.
#include <cstdint>
#include <map>
#include <optional>
#include <variant>
#include <string>
#include <vector>

#include "storage/device_record.h"
#include "base/error.h"
#include "storage/device_record.h"
#include "task/status_text.h"
#include "task/task_context.h"

namespace norvale::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the work could not be done
inline constexpr int kExitUsage = 2;    // the command line is wrong

// "--name value" options, "--flag" switches, repeatable options collected in order.
class Options {
 public:
  // Returns an error text for unknown options or missing values.
  std::optional<std::string> parse(int argc, char** argv, const std::vector<std::string>& valued,
                                   const std::vector<std::string>& flags);
  std::optional<std::string> value(const std::string& name) const;
  std::vector<std::string> values(const std::string& name) const;
  bool flag(const std::string& name) const { return m_flags.count(name) > 0; }

 private:
  std::multimap<std::string, std::string> m_values;
  std::map<std::string, bool> m_flags;
};

std::optional<std::uint64_t> parseUnsigned(const std::string& text);

// The --channel C and --day YYYY-MM-DD choice of the files export and convert write.
struct FileChoice {
  std::optional<std::uint64_t> channel;
  std::optional<std::uint32_t> day;  // day code
  // The chosen files' positions in the file map.
  std::vector<std::uint64_t> positions(const FileMap& map) const;
};
// Reads the choice from the options; an error text when a value is not understood.
std::optional<std::string> readFileChoice(const Options& options, FileChoice& choice);
// A whole number with an optional sign ("-3600", "+120", "0").
std::optional<std::int64_t> parseSigned(const std::string& text);
std::string jsonString(const std::string& text);
// The command as typed: "norvale-cli" and the command's arguments (argv[0] the command's name),
// each quoted for a POSIX shell where it needs to be.
std::string commandLineText(int argc, char** argv);

int usageError(const std::string& message);
int failure(const std::string& message);

// The record of an image or device given by path, with its size (an EWF or split set's media
// size); opening it once here fails early with a clear message, and warns of an incomplete set.
Result<DeviceRecord> sourceRecord(const std::string& path);

// Reads the header of a task folder and loads its file map (with the source when given),
// telling the observer what the loader says. A task whose scan did not finish is said to be one
// in a line on stderr (unfinishedLine), unless quietAboutUnfinished; what it holds is loaded
// all the same.
Result<void> openTask(TaskContext& task, TaskObserver& observer, const std::string& folder, const DeviceRecord* source,
                      bool quietAboutUnfinished = false);
// The one line that says a loaded task's scan did not finish and where it stood.
std::string unfinishedLine(const TaskContext& task);
// Where an unfinished task's scan stood: "sector S, P% of the range (X of Y GiB)".
std::string checkpointPosition(const TaskContext& task);

// Prints the task notification on stderr: messages as lines, progress as a status line that
// redraws itself on a terminal and is printed at most every few seconds otherwise.
class ProgressPrinter final : public TaskObserver {
 public:
  explicit ProgressPrinter(const TaskContext* task = nullptr, bool quiet = false);
  void onTaskStatus(const TaskStatus& status) override;
  void finishLine();
  StatusPresenter& presenter() { return m_presenter; }

 private:
  void showProgress(const std::string& text, bool force);
  const TaskContext* m_task;
  bool m_quiet;
  bool m_terminal;
  bool m_lineOpen = false;
  std::int64_t m_lastPrint = -1;
  std::int64_t m_range = 0;
  std::string m_count, m_speed;
  StatusPresenter m_presenter;
};

// Opens the task against the source without printing the loading messages; the exit code of
// the failure, when it could not be opened.
std::optional<int> openQuietly(TaskContext& task, const std::string& folder, const DeviceRecord& source);

struct SectorRange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;  // exclusive
};

// The sectors a command works on: --partition K, or --start-sector/--end-sector, else the whole
// source (a trailing partial sector included). An exit code when the options cannot be used;
// pastEndNote is printed when the range reaches past the source.
std::variant<SectorRange, int> chooseSectorRange(const Options& options, const DeviceRecord& source,
                                                 const char* pastEndNote);

// The years a scan or a sampling reads times in: --years FIRST-LAST, by default 2010 to the
// year after the current one. An exit code when the option cannot be used.
std::variant<YearWindow, int> chooseYearWindow(const Options& options);

// Ctrl-C raises the task's stop flag instead of killing the program; a second Ctrl-C kills it.
void stopOnInterrupt(TaskContext& task);
// True once Ctrl-C (or a termination signal) asked the work to stop.
bool interrupted();

}  // namespace norvale::cli
