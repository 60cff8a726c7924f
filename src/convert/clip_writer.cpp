#include "convert/clip_writer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "convert/converter.h"
#include "convert/entry_source.h"
#include "export/dfxml_report.h"
#include "export/exporter.h"
#include "export/manifest.h"
#include "format/utc_time.h"
#include "task/partial_file.h"
#include "task/task_history.h"

namespace norvale::convert {
namespace fs = std::filesystem;

namespace {

// Reading starts at the last record that begins this long before the part of the window an
// entry provides, so that the key picture the first picture needs is read too.
constexpr double kPrerollSeconds = 20;

// The creation_time of a clip: its window's start, shown time.
std::string windowCreationTime(std::int64_t shown) {
  return isoDateTimeText(civilCalendar(shown)) + ".000000Z";
}

// report.dfxml of a clip run: each clip names the recordings it was made from; those were read
// only in part, so their fileobjects carry no byte runs.
Result<void> writeClipDfxml(TaskContext& task, const ClipWriteOptions& options, std::chrono::system_clock::time_point started,
                            const std::vector<ClipPlan>& plans, const std::vector<ClipWritten>& results) {
  DfxmlDocument document = dfxmlDocumentFor(task, options.commandLine, started);
  const auto recordingPaths = exportRelativePaths(task);
  std::vector<OutputEvent> written;
  std::vector<std::uint64_t> listed;
  for (std::size_t i = 0; i < results.size() && i < plans.size(); ++i) {
    const ClipWritten& clip = results[i];
    if (!clip.written) continue;
    written.push_back({"clip", clip.sha256, absolutePath(clip.path)});
    DfxmlFileObject mp4;
    mp4.filename = manifestPath(options.folder, clip.path);
    std::error_code ec;
    mp4.filesize = fs::file_size(fs::u8path(clip.path), ec);
    mp4.sha256 = clip.sha256;
    for (const ClipEntry& e : plans[i].entries) {
      mp4.fields.emplace_back("derived_from", recordingId(e.position));
      if (std::find(listed.begin(), listed.end(), e.position) != listed.end()) continue;
      listed.push_back(e.position);
      DfxmlFileObject recording = recordingObject(task, e.position, e.entry);
      recording.filename = recordingPaths[e.position];
      recording.byteRuns.reset();
      recording.sha256.clear();
      recording.fields.emplace_back("written", "false");
      document.files.push_back(std::move(recording));
    }
    mp4.fields.emplace_back("window_from", windowTimeText(plans[i].window.from));
    mp4.fields.emplace_back("window_to", windowTimeText(plans[i].window.to));
    mp4.fields.emplace_back("frames", std::to_string(clip.frames));
    mp4.fields.emplace_back("complete", clip.complete ? "true" : "false");
    document.files.push_back(std::move(mp4));
  }
  if (!task.taskFolder.empty())
    if (auto recorded = recordOutputs(task.taskFolder, written); !recorded) return recorded;
  return writeDfxmlReport(options.folder, document);
}

}  // namespace

Result<std::vector<ClipWritten>> writeClips(TaskContext& task, TaskObserver& observer,
                                            const std::vector<ClipPlan>& plans, const ClipWriteOptions& options) {
  const auto started = std::chrono::system_clock::now();
  std::vector<std::uint64_t> positions;
  for (const ClipPlan& plan : plans)
    for (const ClipEntry& e : plan.entries) positions.push_back(e.position);
  auto run = beginFileRun(task, observer, positions, options.folder);
  if (!run) return std::unexpected(run.error());
  removeStalePartials(fs::u8path(options.folder));  // what a killed run left
  const TimeConvention convention = task.timeConvention();
  const auto correction = static_cast<double>(convention.correction);

  std::vector<ClipWritten> results;
  std::uint64_t doneBytes = 0;
  std::optional<Error> writeFailure;  // the disk refused a clip: the run ends with it
  for (const ClipPlan& plan : plans) {
    ClipWritten r;
    r.channel = plan.channel;
    if (!plan.hasRecordings() || task.stopRequested() || writeFailure) {
      if (plan.hasRecordings()) r.error = task.stopRequested() ? "stopped" : "not written: an earlier clip could not be written";
      results.push_back(std::move(r));
      continue;
    }
    const fs::path target = fs::u8path(options.folder) / fs::u8path(plan.fileName);
    r.path = target.string();
    if (!options.overwrite && fs::exists(target)) {
      r.error = "the clip exists and was left alone (--overwrite replaces it)";
      results.push_back(std::move(r));
      continue;
    }
    if (!hasStreamReader(task.description().brand)) {
      r.error = "unsupported payload: no stream reader for brand " + std::to_string(task.description().brand);
      results.push_back(std::move(r));
      continue;
    }
    // The shown window back in the recorder's own time, which the pictures carry.
    StreamOptions streamOptions;
    streamOptions.window = PictureWindow{static_cast<double>(plan.window.from) - correction,
                                         static_cast<double>(plan.window.to) - correction};
    streamOptions.creationTime = windowCreationTime(plan.window.from);
    streamOptions.frameTimes = options.frameTimes;
    std::vector<std::unique_ptr<EntrySource>> sources;
    std::vector<StreamInput> inputs;
    std::uint64_t planBytes = 0;
    for (const ClipEntry& e : plan.entries) {
      auto source = EntrySource::open(task, e.entry);
      if (!source) {
        r.error = source.error().message;
        break;
      }
      sources.push_back(std::move(*source));
      StreamInput input = inputFor(task, e.entry, *sources.back());
      const PictureWindow part{static_cast<double>(e.used.from) - correction, static_cast<double>(e.used.to) - correction};
      streamOptions.inputWindows.push_back(part);
      for (const auto& piece : sources.back()->pieces()) {
        const auto at = calendarSeconds(input.convention, piece.time);
        if (at && *at <= part.from - kPrerollSeconds) input.startOffset = piece.offset;
      }
      const std::uint64_t before = doneBytes + planBytes;
      const std::uint64_t size = e.entry.size;
      planBytes += size;
      input.progress = [&run, before, size, last = std::int64_t{-1}](std::uint64_t walked) mutable {
        const auto mib = static_cast<std::int64_t>(walked >> 20);
        if (mib == last) return;  // one notification per MiB is plenty
        last = mib;
        run->reach(before + std::min(walked, size));
      };
      inputs.push_back(std::move(input));
    }
    if (!r.error.empty()) {
      results.push_back(std::move(r));
      continue;
    }
    ConvertedFile f = convertStreams(inputs, target.string(), streamOptions);
    std::uint64_t unreadable = 0;
    for (const auto& s : sources) unreadable += s->unreadableBytes();
    if (f.error == "stopped") {
      r.error = "stopped";
      results.push_back(std::move(r));
      continue;
    }
    if (f.writeFailed) writeFailure = Error{ErrorCode::WriteFailed, f.error, 0};
    r.written = f.written;
    r.path = f.written ? target.string() : std::string();
    r.firstSecond = f.firstSecond;
    r.lastSecond = f.lastSecond;
    r.frames = f.frames;
    r.keyFrames = f.keyFrames;
    r.skippedBytes = f.skippedBytes;
    r.complete = f.complete && unreadable == 0;
    r.sha256 = f.sha256;
    r.frameTimesPath = f.frameTimesPath;
    r.frameTimesSha256 = f.frameTimesSha256;
    r.audioSeconds = f.audioSeconds;
    r.clockCues = f.clockCues;
    r.error = f.error;
    if (unreadable && f.written)
      r.error = "读取源设备失败,可能存在坏道: " + std::to_string(unreadable) + " bytes unreadable" + (r.error.empty() ? "" : "; " + r.error);
    doneBytes += planBytes;
    run->finishFile(doneBytes);
    results.push_back(std::move(r));
  }
  std::vector<ManifestLine> lines;
  for (const ClipWritten& c : results)
    if (c.written) {
      lines.push_back({c.sha256, manifestPath(options.folder, c.path)});
      if (!c.frameTimesPath.empty()) lines.push_back({c.frameTimesSha256, manifestPath(options.folder, c.frameTimesPath)});
    }
  auto manifest = updateManifest(options.folder, lines);
  if (writeFailure) return std::unexpected(*writeFailure);
  if (!manifest) return std::unexpected(manifest.error());
  if (auto reported = writeClipDfxml(task, options, started, plans, results); !reported) return std::unexpected(reported.error());
  return results;
}

}  // namespace norvale::convert
