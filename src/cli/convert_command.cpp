// convert and preview: playable MP4 copies of the recovered files and their first picture.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "convert/converter.h"
#include "export/exporter.h"
#include "task/command_worker.h"

namespace norvale::cli {
namespace fs = std::filesystem;

namespace {

std::string seconds(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", value);
  return buf;
}

// The recorder's audio: what was found and what the file holds; null when it had none.
std::string audioJson(const convert::ConvertedFile& f) {
  if (f.audioFound.empty()) return "null";
  return "{\"found\": " + jsonString(f.audioFound) + ", \"written\": " + (f.audioWritten ? "\"aac\"" : "null") +
         ", \"encoded\": " + (f.audioWritten && f.audioEncoded ? "true" : "false") + ", \"error\": " + jsonString(f.audioError) + "}";
}

}  // namespace

int runConvertCommand(int argc, char** argv) {
  Options options;
  if (auto error = options.parse(argc, argv, {"--task", "--source", "--out", "--channel", "--day", "--walk"},
                                 {"--overwrite", "--json", "--quiet", "--frame-times"}))
    return usageError(*error);
  const auto folder = options.value("--task");
  const auto sourcePath = options.value("--source");
  const auto outFolder = options.value("--out");
  if (!folder || !sourcePath || !outFolder) return usageError("convert needs --task DIR --source PATH --out DIR");
  FileChoice choice;
  if (auto error = readFileChoice(options, choice)) return usageError(*error);
  convert::ConvertOptions convertOptions{*outFolder, options.flag("--overwrite")};
  convertOptions.commandLine = commandLineText(argc, argv);
  convertOptions.frameTimes = options.flag("--frame-times");
  if (auto walk = options.value("--walk")) {
    if (*walk != "own" && *walk != "library") return usageError("--walk takes own or library");
    convertOptions.walk = *walk == "own" ? convert::WalkKind::Own : convert::WalkKind::Library;
  }
  auto source = sourceRecord(*sourcePath);
  if (!source) return failure("访问源设备失败,请确认源设备是否存在: " + source.error().message);

  TaskContext task;
  ProgressPrinter printer(&task, options.flag("--quiet"));
  if (auto code = openQuietly(task, *folder, *source)) return *code;
  const std::vector<std::uint64_t> positions = choice.positions(task.fileMap);
  std::error_code ec;
  fs::create_directories(*outFolder, ec);
  if (ec) return failure("cannot create the output folder " + *outFolder + ": " + ec.message());
  stopOnInterrupt(task);

  Result<std::vector<convert::ConvertedFile>> converted;
  CommandWorker worker;
  worker.start([&] {
    std::uint64_t selectedBytes = 0;
    const auto entries = fileMapEntries(task);
    for (auto p : positions) selectedBytes += entries[p].second.size;
    printer.presenter().setExportTotals(selectedBytes, positions.size());
    converted = convert::convertFiles(task, printer, positions, convertOptions);
  });
  worker.wait();
  printer.finishLine();
  if (!converted) return failure(converted.error().message);

  // A file that lost pictures to damage was still written: only a file not written fails.
  int failed = 0, incomplete = 0;
  std::ostringstream out;
  const bool json = options.flag("--json");
  if (json) out << "[";
  bool first = true;
  for (const auto& f : *converted) {
    if (!f.written && !f.skipped) ++failed;
    else if (!f.complete && !f.skipped) ++incomplete;
    if (!f.written && !f.skipped) std::cerr << "norvale-cli: file " << f.index << ": " << f.error << "\n";
    else if (!f.complete && !f.skipped) std::cerr << "norvale-cli: file " << f.index << " incomplete: " << f.error << "\n";
    if (json) {
      out << (first ? "\n " : ",\n ") << "{\"index\": " << f.index << ", \"path\": " << jsonString(f.path)
          << ", \"codec\": " << jsonString(f.codec) << ", \"frames\": " << f.frames << ", \"key_frames\": " << f.keyFrames << ", \"clock_cues\": " << f.clockCues
          << ", \"audio\": " << audioJson(f) << ", \"audio_seconds\": " << seconds(f.audioSeconds)
          << ", \"duration\": " << seconds(f.duration) << ", \"skipped_bytes\": " << f.skippedBytes
          << ", \"lost_frames\": " << f.lostFrames << ", \"complete\": " << (f.complete ? "true" : "false")
          << ", \"skipped\": " << (f.skipped ? "true" : "false") << ", \"sha256\": " << jsonString(f.sha256)
          << ", \"frame_times\": " << (f.frameTimesPath.empty() ? std::string("null") : jsonString(f.frameTimesPath))
          << ", \"error\": " << jsonString(f.error) << "}";
    } else {
      out << f.index << "\t"
          << (f.skipped ? "skipped (exists)" : f.complete ? "written" : f.written ? "INCOMPLETE" : "NOT WRITTEN") << "\t"
          << f.codec << "\t" << f.frames << " frames\t" << seconds(f.duration) << " s\t" << f.path << "\n";
    }
    first = false;
  }
  if (json) out << (first ? "]\n" : "\n]\n");
  std::cout << out.str();
  std::cerr << "converted " << converted->size() << " of " << positions.size() << " files to " << *outFolder
            << (failed ? " (" + std::to_string(failed) + " not written)" : "")
            << (incomplete ? " (" + std::to_string(incomplete) + " written with losses)" : "") << "\n";
  if (interrupted()) std::cerr << "conversion stopped: the files listed are finished; the rest was not written\n";
  return failed ? kExitFailure : kExitOk;
}

int runPreviewCommand(int argc, char** argv) {
  Options options;
  if (auto error = options.parse(argc, argv, {"--task", "--source", "--index", "--out"}, {})) return usageError(*error);
  const auto folder = options.value("--task");
  const auto sourcePath = options.value("--source");
  const auto indexText = options.value("--index");
  const auto outPath = options.value("--out");
  if (!folder || !sourcePath || !indexText || !outPath)
    return usageError("preview needs --task DIR --source PATH --index N --out FILE.png");
  const auto index = parseUnsigned(*indexText);
  if (!index || *index < 1) return usageError("--index takes a file number from 1 (as files lists them)");
  auto source = sourceRecord(*sourcePath);
  if (!source) return failure("访问源设备失败,请确认源设备是否存在: " + source.error().message);
  TaskContext task;
  if (auto code = openQuietly(task, *folder, *source)) return *code;
  if (*index > task.fileMap.size())
    return failure("no file " + std::to_string(*index) + " in the task (it has " + std::to_string(task.fileMap.size()) + ")");
  auto summary = convert::summariseFile(task, *index - 1, false);
  if (!summary) return failure(summary.error().message);
  if (!summary->picture) return failure("file " + std::to_string(*index) + " has no picture: " + summary->pictureError);
  auto png = convert::encodePng(*summary->picture);
  if (!png) return failure(png.error().message);
  const std::string partial = *outPath + ".part";
  {
    std::ofstream out(fs::u8path(partial), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
    if (!out) return failure("cannot write " + partial);
  }
  std::error_code ec;
  fs::rename(fs::u8path(partial), fs::u8path(*outPath), ec);
  if (ec) return failure("cannot rename " + partial + ": " + ec.message());
  std::cout << *outPath << "\t" << summary->picture->width << "x" << summary->picture->height << "\t" << summary->codec
            << "\n";
  return kExitOk;
}

}  // namespace norvale::cli
