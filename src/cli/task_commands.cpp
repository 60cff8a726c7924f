// scan, files and export: the task workflow from the command line.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <thread>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "export/dfxml_report.h"
#include "cli/test_points.h"
#include "export/exporter.h"
#include "format/time_zone.h"
#include "parsers/brand_table.h"
#include "storage/device_handle.h"
#include "task/brand_registry.h"
#include "task/command_worker.h"
#include "task/result_store.h"
#include "task/status_text.h"
#include "task/task_runner.h"
#include "task/task_workflow.h"

namespace norvale::cli {
namespace fs = std::filesystem;

namespace {

}  // namespace

namespace {
// The end of a scan as the command says it: a failure is named and exits 1; a stop (by the
// user, or by a source that went away) keeps what was found and its checkpoint.
int scanEnded(const Result<ScanEnd>& outcome, const TaskContext& task, const std::string& folder) {
  if (!outcome) return failure(outcome.error().message);
  std::cerr << (*outcome == ScanEnd::Stopped ? "任务已停止 (stopped: what was found so far is kept)" : "解析完成") << "\n";
  std::cout << "task: " << folder << "\n"
            << "files: " << task.fileMap.size() << "  size: " << sizeTextNarrow(task.status.foundBytes) << "\n"
            << "zone: " << zoneText(task.description().recorderZone)
            << "  clock correction: " << correctionText(task.description().clockCorrection)
            << "  years: " << task.description().years.text() << "\n";
  return kExitOk;
}

// scan --resume: brand, mode, range and clock from the task header, the source as given or as
// the task folder records it.
int resumeScan(const Options& options, int threads, TaskProbe* probe) {
  const auto folder = options.value("--task");
  if (!folder) return usageError("scan --resume needs --task DIR");
  for (const char* fixed : {"--brand", "--mode", "--start-sector", "--end-sector", "--partition", "--zone", "--clock-offset", "--years"})
    if (options.value(fixed))
      return usageError(std::string("scan --resume takes ") + fixed + " from the task header; leave it out");
  TaskContext task;
  ProgressPrinter printer(&task, options.flag("--quiet"));
  SilentObserver silent;  // the header's own failure is said by the exit below
  auto head = readTaskHeader(task, silent, *folder);
  if (!head) return failure(head.error().message);
  if (!head->checkpoint)
    return failure(head->endSector != 0 ? "任务已完成,无需继续解析 (the task's scan completed; nothing was changed)"
                                        : "任务没有断点,无法继续解析 (the task has no checkpoint to resume from)");
  std::optional<std::string> sourcePath = options.value("--source");
  if (!sourcePath) sourcePath = recordedTaskSource(*folder);
  if (!sourcePath) return usageError("the task folder does not record its source: give --source PATH");
  auto source = sourceRecord(*sourcePath);
  if (!source) return failure("访问源设备失败,请确认源设备是否存在: " + source.error().message);
  head->taskFolder = *folder;
  head->device = &*source;
  head->scan.threads = threads;
  head->scan.directReads = options.flag("--direct");
  task.describe(*head);
  task.probe = probe;
  stopOnInterrupt(task);
  std::cerr << "resuming at sector " << head->checkpoint->resumeOffset / 512 << " of " << *sourcePath << "\n";

  Result<ScanEnd> outcome;
  CommandWorker worker;
  worker.start([&] { outcome = runResumedTask(task, printer); });
  worker.wait();
  printer.finishLine();
  return scanEnded(outcome, task, *folder);
}
}  // namespace

int runScanCommand(int argc, char** argv) { return runScanCommand(argc, argv, nullptr); }

int runScanCommand(int argc, char** argv, TaskProbe* probe) {
  Options options;
  if (auto error = options.parse(argc, argv,
                                 {"--source", "--brand", "--mode", "--task", "--start-sector", "--end-sector",
                                  "--partition", "--threads", "--zone", "--clock-offset", "--years", "--test-kill-at",
                                  "--checkpoint-seconds"},
                                 {"--quiet", "--direct", "--resume", "--overwrite"}))
    return usageError(*error);
  // The kill tests' hidden options (cli/test_points.h).
  std::optional<KillAtMoment> killer;
  if (auto text = options.value("--test-kill-at")) {
    auto named = killAtMoment(*text, killer);
    if (auto* error = std::get_if<std::string>(&named)) return usageError(*error);
    probe = std::get<KillAtMoment*>(named);
  }
  std::optional<double> checkpointSeconds;
  if (auto text = options.value("--checkpoint-seconds")) {
    const auto seconds = parseUnsigned(*text);
    if (!seconds) return usageError("--checkpoint-seconds takes whole seconds");
    checkpointSeconds = static_cast<double>(*seconds);
  }
  int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (auto text = options.value("--threads")) {
    const auto n = parseUnsigned(*text);
    if (!n || *n < 1 || *n > 256) return usageError("--threads takes a number of threads from 1 to 256");
    threads = static_cast<int>(*n);
  }
  if (options.flag("--resume")) return resumeScan(options, threads, probe);
  const auto sourcePath = options.value("--source");
  const auto folder = options.value("--task");
  const auto brandText = options.value("--brand");
  const auto modeText = options.value("--mode");
  if (!sourcePath || !folder || !brandText || !modeText)
    return usageError("scan needs --source PATH --brand N --mode quick|deep --task DIR");
  const auto brand = parseUnsigned(*brandText);
  if (!brand || *brand < static_cast<std::uint64_t>(firstBrand()) || *brand > static_cast<std::uint64_t>(lastBrand()))
    return usageError("--brand takes a brand number from " + std::to_string(firstBrand()) + " to " +
                      std::to_string(lastBrand()));
  if (!findBrand(static_cast<std::uint8_t>(*brand)))
    return failure("brand " + std::to_string(*brand) + " (" + brandName(static_cast<int>(*brand)) +
                   ") cannot be scanned by this version yet");
  if (*modeText != "quick" && *modeText != "deep") return usageError("--mode takes quick or deep");
  // The recorder's zone, by default the workstation's; an empty one keeps the C library's
  // reading of TZ, as tasks without a zone have.
  std::string zone = workstationZoneName();
  if (auto named = options.value("--zone")) {
    if (!named->empty())
      if (auto found = TimeZone::named(*named); !found) return usageError("--zone: " + found.error().message);
    zone = *named;
  }
  std::int64_t correction = 0;
  if (auto offset = options.value("--clock-offset")) {
    const auto seconds = parseSigned(*offset);
    if (!seconds || *seconds > kMaxClockCorrection || *seconds < -kMaxClockCorrection)
      return usageError(
          "--clock-offset takes whole seconds to add to the recorder's clock, at most a century either way");
    correction = *seconds;
  }
  const auto years = chooseYearWindow(options);
  if (const int* code = std::get_if<int>(&years)) return *code;

  auto source = sourceRecord(*sourcePath);
  if (!source) return failure("访问源设备失败,请确认源设备是否存在: " + source.error().message);
  const auto chosen = chooseSectorRange(options, *source, "reads past its end will fail");
  if (const int* code = std::get_if<int>(&chosen)) return *code;
  const std::uint64_t startSector = std::get<SectorRange>(chosen).start;
  const std::uint64_t endSector = std::get<SectorRange>(chosen).end;

  // A folder that holds a task is never emptied without being told to.
  if (auto held = heldTaskFile(*folder); held && !options.flag("--overwrite"))
    return failure("该目录已存在任务: " + *folder + " (it holds " + *held +
                   "; give --overwrite to replace that task, or choose another folder)");
  std::error_code ec;
  fs::create_directories(*folder, ec);
  if (ec || !fs::is_directory(*folder)) return failure("cannot create the task folder " + *folder + ": " + ec.message());

  TaskContext task;
  ProgressPrinter printer(&task, options.flag("--quiet"));
  TaskHead head;
  head.description = TaskDescription{static_cast<std::uint8_t>(*brand),
                                     *modeText == "quick" ? kParseQuick : kParseDeep,
                                     startSector * 512,
                                     (endSector - startSector) * 512,
                                     zone,
                                     correction,
                                     std::get<YearWindow>(years)};
  head.taskFolder = *folder;
  head.device = &*source;
  head.scan.threads = threads;
  head.scan.directReads = options.flag("--direct");
  if (checkpointSeconds) head.scan.checkpointSeconds = *checkpointSeconds;
  task.describe(head);
  task.probe = probe;
  stopOnInterrupt(task);

  Result<ScanEnd> outcome;
  CommandWorker worker;
  worker.start([&] { outcome = runNewTask(task, printer); });
  worker.wait();
  printer.finishLine();
  return scanEnded(outcome, task, *folder);
}

namespace {
// files --dfxml: the report.dfxml an export of every file would write, without writing a file.
int printDfxml(TaskContext& task, const std::string& commandLine) {
  DfxmlDocument document = dfxmlDocumentFor(task, commandLine, std::chrono::system_clock::now());
  const auto paths = exportRelativePaths(task);
  SourceReader reader(task.deviceHandle);
  std::uint64_t position = 0;
  for (const auto& [key, entry] : task.fileMap) {
    auto bytes = readEntryBytes(task, entry, reader);
    if (!bytes) return failure(bytes.error().message);
    DfxmlFileObject object = recordingObject(task, position, entry);
    // Export names a file with unreadable sectors so; the report names what export would write.
    std::filesystem::path name = std::filesystem::u8path(paths[position]);
    if (bytes->unreadableBytes > 0) name.replace_extension(".incomplete" + name.extension().string());
    object.filename = name.generic_string();
    object.sha256 = bytes->sha256;
    object.byteRuns = bytes->runs.runs();
    document.files.push_back(std::move(object));
    ++position;
  }
  std::cout << dfxmlText(document);
  return kExitOk;
}
}  // namespace

int runFilesCommand(int argc, char** argv) {
  Options options;
  if (auto error = options.parse(argc, argv, {"--task", "--source"}, {"--json", "--dfxml"})) return usageError(*error);
  const auto folder = options.value("--task");
  if (!folder) return usageError("files needs --task DIR");
  if (options.flag("--dfxml") && (options.flag("--json") || !options.value("--source")))
    return usageError("files --dfxml needs --source PATH (the bytes are read to find their runs and hashes), and no --json");
  std::optional<DeviceRecord> source;
  if (auto path = options.value("--source")) {
    auto record = sourceRecord(*path);
    if (!record) return failure("访问源设备失败,请确认源设备是否存在: " + record.error().message);
    source = *record;
  }
  TaskContext task;
  ProgressPrinter printer(&task, true);
  if (auto opened = openTask(task, printer, *folder, source ? &*source : nullptr); !opened)
    return failure(opened.error().message);

  if (options.flag("--dfxml")) return printDfxml(task, commandLineText(argc, argv));

  const TimeConvention convention = task.timeConvention();
  const TimeConvention recorded = convention.asRecorded();
  std::ostringstream out;
  std::uint64_t index = 0;
  if (options.flag("--json")) out << "[";
  for (const auto& [key, entry] : task.fileMap) {
    ++index;
    const std::uint32_t day = static_cast<std::uint32_t>(key);
    if (options.flag("--json")) {
      out << (index > 1 ? ",\n " : "\n ") << "{\"index\": " << index << ", \"channel\": " << unsigned(entry.channel)
          << ", \"day\": " << (day ? jsonString(dayIsoText(day)) : "null") << ", \"day_text\": " << jsonString(dayText(day))
          << ", \"start\": " << jsonString(timeText(convention, entry.startTime))
          << ", \"end\": " << jsonString(timeText(convention, entry.endTime))
          << ", \"recorder_start\": " << jsonString(timeText(recorded, entry.startTime))
          << ", \"recorder_end\": " << jsonString(timeText(recorded, entry.endTime))
          << ", \"start_time\": " << entry.startTime
          << ", \"end_time\": " << entry.endTime << ", \"size\": " << entry.size
          << ", \"records\": " << entry.recordCount() << "}";
    } else {
      out << index << "\t通道" << unsigned(entry.channel) << "\t" << sizeTextNarrow(entry.size) << " (" << entry.size
          << " bytes)\t" << timeText(convention, entry.startTime) << "\t" << timeText(convention, entry.endTime) << "\t"
          << dayText(day) << "\n";
    }
  }
  if (options.flag("--json")) out << (index ? "\n]\n" : "]\n");
  std::cout << out.str();
  if (!options.flag("--json"))
    std::cerr << brandName(task.description().brand) << "  " << parseModeText(task.description().parseMode) << "  文件数量: " << task.fileMap.size()
              << "  大小: " << sizeTextNarrow(task.status.foundBytes) << "  时区: " << zoneText(task.description().recorderZone)
              << "  时钟校正: " << correctionText(task.description().clockCorrection) << "\n";
  return kExitOk;
}

int runExportCommand(int argc, char** argv) { return runExportCommand(argc, argv, nullptr); }

int runExportCommand(int argc, char** argv, FileFaults* faults) {
  Options options;
  if (auto error = options.parse(argc, argv, {"--task", "--source", "--out", "--channel", "--day", "--test-kill-after"},
                                 {"--overwrite", "--json", "--quiet"}))
    return usageError(*error);
  // The kill test's hidden option (cli/test_points.h).
  std::optional<KillAfterBytes> killer;
  if (auto text = options.value("--test-kill-after")) {
    const auto bytes = parseUnsigned(*text);
    if (!bytes) return usageError("--test-kill-after takes a number of bytes");
    faults = &killer.emplace(*bytes);
  }
  const auto folder = options.value("--task");
  const auto sourcePath = options.value("--source");
  const auto outFolder = options.value("--out");
  if (!folder || !sourcePath || !outFolder) return usageError("export needs --task DIR --source PATH --out DIR");
  FileChoice choice;
  if (auto error = readFileChoice(options, choice)) return usageError(*error);
  auto source = sourceRecord(*sourcePath);
  if (!source) return failure("访问源设备失败,请确认源设备是否存在: " + source.error().message);

  TaskContext task;
  ProgressPrinter printer(&task, options.flag("--quiet"));
  if (auto code = openQuietly(task, *folder, *source)) return *code;
  const std::vector<std::uint64_t> positions = choice.positions(task.fileMap);
  std::uint64_t totalBytes = 0;
  for (const auto& [key, entry] : task.fileMap) totalBytes += entry.size;
  printer.presenter().setExportTotals(0, 0);
  ExportOptions exportOptions{*outFolder, options.flag("--overwrite"), commandLineText(argc, argv), faults};
  std::error_code ec;
  fs::create_directories(*outFolder, ec);
  if (ec) return failure("cannot create the export folder " + *outFolder + ": " + ec.message());
  stopOnInterrupt(task);

  Result<std::vector<ExportedFile>> exported;
  CommandWorker worker;
  worker.start([&] {
    // The totals are known before the first notification.
    std::uint64_t selectedBytes = 0;
    const auto entries = fileMapEntries(task);
    for (auto p : positions) selectedBytes += entries[p].second.size;
    printer.presenter().setExportTotals(selectedBytes, positions.size());
    exported = exportFiles(task, printer, positions, exportOptions);
  });
  worker.wait();
  printer.finishLine();
  if (!exported) return failure(exported.error().message);

  int incomplete = 0;
  std::ostringstream out;
  if (options.flag("--json")) out << "[";
  bool first = true;
  for (const auto& f : *exported) {
    if (!f.complete) ++incomplete;
    if (options.flag("--json")) {
      out << (first ? "\n " : ",\n ") << "{\"index\": " << f.index << ", \"path\": " << jsonString(f.path)
          << ", \"size\": " << f.size << ", \"sha256\": " << jsonString(f.sha256)
          << ", \"skipped\": " << (f.skipped ? "true" : "false") << ", \"complete\": " << (f.complete ? "true" : "false")
          << ", \"unreadable_bytes\": " << f.unreadableBytes << ", \"error\": " << jsonString(f.error) << "}";
    } else {
      out << f.index << "\t" << (f.skipped ? "skipped (exists)" : f.complete ? "written" : "INCOMPLETE") << "\t"
          << f.size << " bytes\t" << f.path << (f.error.empty() ? "" : "\t" + f.error) << "\n";
    }
    first = false;
  }
  if (options.flag("--json")) out << (first ? "]\n" : "\n]\n");
  std::cout << out.str();
  std::cerr << "exported " << exported->size() << " of " << positions.size() << " files to " << *outFolder
            << (incomplete ? " (" + std::to_string(incomplete) + " incomplete: unreadable source sectors)" : "") << "\n";
  if (interrupted()) std::cerr << "export stopped: the files listed are complete; the rest was not written\n";
  return incomplete ? kExitFailure : kExitOk;
}

}  // namespace norvale::cli
