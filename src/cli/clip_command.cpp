// clip: what each camera recorded between two times, one MP4 per channel.
#include <filesystem>
#include <iostream>
#include <sstream>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "convert/clip_writer.h"
#include "export/clip_plan.h"
#include "task/command_worker.h"

namespace norvale::cli {
namespace fs = std::filesystem;

namespace {

// "--channel 1,3,12" as channel numbers; an error text for anything else.
std::optional<std::string> readChannels(const Options& options, std::vector<std::uint8_t>& channels) {
  for (const std::string& list : options.values("--channel")) {
    std::size_t at = 0;
    while (at <= list.size()) {
      const std::size_t comma = std::min(list.find(',', at), list.size());
      const auto channel = parseUnsigned(list.substr(at, comma - at));
      if (!channel || *channel > 255) return "--channel takes channel numbers separated by commas, not \"" + list + "\"";
      channels.push_back(static_cast<std::uint8_t>(*channel));
      at = comma + 1;
    }
  }
  return std::nullopt;
}

std::string spansJson(const std::vector<ClipSpan>& spans) {
  std::string out = "[";
  for (std::size_t i = 0; i < spans.size(); ++i)
    out += (i ? ", " : "") + std::string("[") + jsonString(windowTimeText(spans[i].from)) + ", " +
           jsonString(windowTimeText(spans[i].to)) + "]";
  return out + "]";
}

// The recorder's time of a picture, as it wrote it and with the task's clock correction.
std::string pictureTimeJson(const TimeConvention& convention, const std::optional<double>& second) {
  if (!second) return "null";
  const auto recorded = static_cast<std::int64_t>(*second);
  return "{\"recorded\": " + jsonString(windowTimeText(recorded)) +
         ", \"corrected\": " + jsonString(windowTimeText(recorded + convention.correction)) + "}";
}

// Entries are numbered from 1, as files lists them.
std::string clipJson(const ClipPlan& plan, const convert::ClipWritten& written, const TimeConvention& convention) {
  std::ostringstream out;
  out << "{\"channel\": " << static_cast<unsigned>(plan.channel)
      << ", \"path\": " << (written.written ? jsonString(written.path) : "null")
      << ", \"from\": " << jsonString(windowTimeText(plan.window.from))
      << ", \"to\": " << jsonString(windowTimeText(plan.window.to))
      << ", \"first\": " << pictureTimeJson(convention, written.firstSecond)
      << ", \"last\": " << pictureTimeJson(convention, written.lastSecond) << ", \"covered\": " << spansJson(plan.covered)
      << ", \"gaps\": " << spansJson(plan.gaps) << ", \"frames\": " << written.frames
      << ", \"key_frames\": " << written.keyFrames << ", \"clock_cues\": " << written.clockCues
      << ", \"audio_seconds\": " << written.audioSeconds << ", \"entries\": [";
  for (std::size_t i = 0; i < plan.entries.size(); ++i) out << (i ? ", " : "") << plan.entries[i].position + 1;
  out << "], \"set_aside\": [";
  for (std::size_t i = 0; i < plan.setAside.size(); ++i) {
    const SetAsideEntry& s = plan.setAside[i];
    out << (i ? ", " : "") << "{\"entry\": " << s.position + 1 << ", \"from\": " << jsonString(windowTimeText(s.span.from))
        << ", \"to\": " << jsonString(windowTimeText(s.span.to)) << ", \"covered_by\": " << s.usedInstead + 1 << "}";
  }
  out << "], \"undated\": [";
  for (std::size_t i = 0; i < plan.undated.size(); ++i) out << (i ? ", " : "") << plan.undated[i] + 1;
  out << "], \"skipped_bytes\": " << written.skippedBytes << ", \"complete\": " << (written.complete ? "true" : "false")
      << ", \"sha256\": " << (written.written ? jsonString(written.sha256) : "null")
      << ", \"frame_times\": " << (written.frameTimesPath.empty() ? "null" : jsonString(written.frameTimesPath))
      << ", \"error\": " << (written.error.empty() ? "null" : jsonString(written.error)) << "}";
  return out.str();
}

std::int64_t coveredSeconds(const ClipPlan& plan) {
  std::int64_t s = 0;
  for (auto c : plan.covered) s += c.seconds();
  return s;
}

}  // namespace

int runClipCommand(int argc, char** argv) {
  Options options;
  if (auto error = options.parse(argc, argv, {"--task", "--source", "--from", "--to", "--out", "--channel"},
                                 {"--overwrite", "--json", "--quiet", "--frame-times"}))
    return usageError(*error);
  const auto folder = options.value("--task");
  const auto sourcePath = options.value("--source");
  const auto from = options.value("--from");
  const auto to = options.value("--to");
  const auto outFolder = options.value("--out");
  if (!folder || !sourcePath || !from || !to || !outFolder)
    return usageError("clip needs --task DIR --source PATH --from \"YYYY-MM-DD HH:MM:SS\" --to \"YYYY-MM-DD HH:MM:SS\" --out DIR");
  ClipRequest request{*from, *to, {}};
  if (auto error = readChannels(options, request.channels)) return usageError(*error);
  // The window is checked before the source is opened: a wrong command line is said at once.
  if (auto window = planClips(FileMap{}, TimeConvention{}, ClipRequest{*from, *to, {}}); !window)
    return usageError(window.error().message);

  auto source = sourceRecord(*sourcePath);
  if (!source) return failure("访问源设备失败,请确认源设备是否存在: " + source.error().message);
  TaskContext task;
  ProgressPrinter printer(&task, options.flag("--quiet"));
  if (auto code = openQuietly(task, *folder, *source)) return *code;
  const TimeConvention convention = task.timeConvention();
  auto plans = planClips(task.fileMap, convention, request);
  if (!plans) return usageError(plans.error().message);

  std::error_code ec;
  fs::create_directories(fs::u8path(*outFolder), ec);
  if (ec) return failure("cannot create the output folder " + *outFolder + ": " + ec.message());
  stopOnInterrupt(task);

  Result<std::vector<convert::ClipWritten>> written;
  CommandWorker worker;
  worker.start([&] {
    std::uint64_t bytes = 0, clips = 0;
    for (const ClipPlan& plan : *plans) {
      for (const ClipEntry& e : plan.entries) bytes += e.entry.size;
      clips += plan.hasRecordings() ? 1 : 0;
    }
    printer.presenter().setExportTotals(bytes, clips);
    written = convert::writeClips(task, printer, *plans,
                                  convert::ClipWriteOptions{*outFolder, options.flag("--overwrite"), commandLineText(argc, argv),
                                                            options.flag("--frame-times")});
  });
  worker.wait();
  printer.finishLine();
  if (!written) return failure(written.error().message);
  if (written->size() != plans->size()) return failure("the clips written do not match the channels asked for");

  int failed = 0, withRecordings = 0;
  const bool json = options.flag("--json");
  std::ostringstream out;
  if (json) out << "[";
  for (std::size_t i = 0; i < plans->size(); ++i) {
    const ClipPlan& plan = (*plans)[i];
    const convert::ClipWritten& w = (*written)[i];
    if (plan.hasRecordings()) {
      ++withRecordings;
      if (!w.written) ++failed;  // a clip that lost pictures to damage is written: complete says so
      if (!w.written) std::cerr << "norvale-cli: channel " << static_cast<unsigned>(plan.channel) << ": " << w.error << "\n";
      else if (!w.complete) std::cerr << "norvale-cli: channel " << static_cast<unsigned>(plan.channel) << " incomplete: " << w.error << "\n";
    }
    if (json) {
      out << (i ? ",\n " : "\n ") << clipJson(plan, w, convention);
    } else {
      out << "CH" << (plan.channel < 10 ? "0" : "") << static_cast<unsigned>(plan.channel) << "\t"
          << (!plan.hasRecordings() ? "no recordings" : w.written ? (w.complete ? "written" : "INCOMPLETE") : "NOT WRITTEN")
          << "\t" << coveredSeconds(plan) << " of " << plan.window.seconds() << " s recorded, " << plan.gaps.size()
          << " gaps\t" << plan.entries.size() << " files\t" << (w.written ? w.path : "-") << "\n";
    }
  }
  if (json) out << (plans->empty() ? "]\n" : "\n]\n");
  std::cout << out.str();
  std::cerr << "clips of " << windowTimeText(plans->empty() ? 0 : plans->front().window.from) << " to "
            << windowTimeText(plans->empty() ? 0 : plans->front().window.to) << ": " << withRecordings - failed << " of "
            << withRecordings << " channels with recordings written to " << *outFolder << "\n";
  if (interrupted()) std::cerr << "clip stopped: the clips listed are finished; the rest was not written\n";
  return failed ? kExitFailure : kExitOk;
}

}  // namespace norvale::cli
