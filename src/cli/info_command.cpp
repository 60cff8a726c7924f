// info: the task header as the task-information dialog shows it, and how far its scan got.
#include <iostream>
#include <sstream>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "parsers/brand_parser.h"
#include "task/brand_registry.h"
#include "task/status_text.h"
#include "task/task_workflow.h"

namespace norvale::cli {

int runInfoCommand(int argc, char** argv) {
  Options options;
  if (auto error = options.parse(argc, argv, {"--task"}, {"--json"})) return usageError(*error);
  const auto folder = options.value("--task");
  if (!folder) return usageError("info needs --task DIR");
  TaskContext task;
  ProgressPrinter silent(&task, true);
  // Loaded without a source: the found counts of a completed task come from its files, and an
  // unfinished one is rebuilt as files and export would see it. The state is a field here, not
  // a line on stderr.
  if (auto opened = openTask(task, silent, *folder, nullptr, true); !opened) return failure(opened.error().message);

  const FoundTotals found = foundTotals(task);
  const std::uint64_t startSector = task.description().startOffset / 512;
  const std::uint64_t endSector = (task.description().startOffset + task.description().length) / 512;
  std::ostringstream out;
  if (options.flag("--json")) {
    out << "{\"task\": " << jsonString(*folder) << ", \"brand\": " << unsigned(task.description().brand)
        << ", \"brand_name\": " << jsonString(brandName(task.description().brand))
        << ", \"mode\": " << jsonString(task.description().parseMode == kParseQuick ? "quick" : "deep")
        << ", \"mode_text\": " << jsonString(parseModeText(task.description().parseMode)) << ", \"start_sector\": " << startSector
        << ", \"end_sector\": " << endSector << ", \"zone\": " << jsonString(task.description().recorderZone)
        << ", \"zone_text\": " << jsonString(zoneText(task.description().recorderZone))
        << ", \"clock_correction\": " << task.description().clockCorrection << ", \"years\": {\"first\": " << task.description().years.first
        << ", \"last\": " << task.description().years.last << "}, \"complete\": " << (task.complete() ? "true" : "false")
        << ", \"reached_sector\": " << task.endSector << ", \"checkpoint_sector\": "
        << (task.checkpoint ? std::to_string(task.checkpoint->sector) : "null") << ", \"found_count\": " << found.count
        << ", \"found_bytes\": " << found.bytes
        // Records the scan counted (checkpoint) or file entries loaded (files).
        << ", \"found_from\": " << jsonString(found.fromCheckpoint ? "checkpoint" : "files")
        << ", \"files\": " << task.fileMap.size() << "}\n";
  } else {
    for (const auto& [label, value] : taskInformation(task))
      if (!value.empty()) out << label << value << "\n";
    if (!task.complete()) out << "(" << checkpointPosition(task) << ")\n";
  }
  std::cout << out.str();
  return kExitOk;
}

}  // namespace norvale::cli
