#include "convert/converter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>

#include "convert/audio_track.h"
#include "convert/entry_source.h"
#include "convert/mp4_writer.h"
#include "export/exporter.h"
#include "format/utc_time.h"
#include "export/manifest.h"
#include "parsers/brand_table.h"
#include "task/partial_file.h"
#include "task/result_store.h"

namespace norvale::convert {
namespace fs = std::filesystem;

namespace {

constexpr double kDefaultRate = 25.0;  // frames per second when nothing tells the rate
// The audio's format is taken from its first packet, looked for among the file's first pictures.
constexpr std::uint64_t kAudioProbeUnits = 750;

enum class TimeMode { Exact, Seconds, Spread };

// Presentation times from the recorder's times. Exact times are kept. With whole seconds, the
// pictures of a whole recorded second are spread evenly over it; those of the file's first and
// last (partial) seconds take the spacing of the neighbouring whole second and sit at the end
// (first) or the start (last) of their second, so that a camera's steady rate stays steady and
// every picture stays inside the second the recorder gave it. A stream without times is spread
// evenly over the file entry's span.
class Timeline {
 public:
  using Emit = std::function<bool(AccessUnit&&, std::int64_t pts, std::int64_t duration)>;
  Timeline(TimeMode mode, double spreadStart, double spreadStep, Emit emit)
      : m_mode(mode), m_spreadStart(spreadStart), m_step(spreadStep), m_emit(std::move(emit)) {}

  // Times count from `origin` (pictures before it get negative times) instead of the first picture.
  void setOrigin(double origin) { m_first = origin; }
  // The next stream spreads its pictures from `start`, `step` apart.
  void respread(double start, double step) {
    m_spreadStart = start;
    m_step = step;
    m_count = 0;
  }

  double spreadStart() const { return m_spreadStart; }
  double spreadStep() const { return m_step; }

  // Called for each recorded second with the span its pictures take in the file.
  using SecondSpan = std::function<void(double second, std::int64_t start, std::int64_t end)>;
  void onSecond(SecondSpan span) { m_onSecond = std::move(span); }

  bool push(AccessUnit&& unit) {
    switch (m_mode) {
      case TimeMode::Spread: {
        const double t = m_spreadStart + static_cast<double>(m_count++) * m_step;
        return out(std::move(unit), t, m_step);
      }
      case TimeMode::Exact: {
        const double t = unit.second.value_or(m_lastTime);
        bool ok = true;
        if (m_held) ok = out(std::move(*m_held), m_heldTime, std::max(t - m_heldTime, 0.0));
        m_held = std::move(unit);
        m_heldTime = t;
        return ok;
      }
      case TimeMode::Seconds: {
        const double previous = m_groups.empty() ? m_spreadStart : m_groups.back().second;
        double s = unit.second.value_or(previous);
        if (!m_groups.empty() && s < previous) s = previous;  // time going back: same second
        if (m_groups.empty() || s != previous) {
          m_groups.push_back(Group{s, {}});
          if (!emitSettledGroups()) return false;
        }
        m_groups.back().units.push_back(std::move(unit));
        return true;
      }
    }
    return true;
  }

  bool finish() {
    if (m_mode == TimeMode::Exact && m_held) {
      const bool ok = out(std::move(*m_held), m_heldTime, m_lastDuration > 0 ? m_lastDuration : 1.0 / kDefaultRate);
      m_held.reset();
      return ok;
    }
    if (m_mode != TimeMode::Seconds) return true;
    // The last second is partial: it starts at its second with the spacing of the whole second
    // before it. A file of two seconds or fewer has no whole second: the default rate.
    while (!m_groups.empty()) {
      Group& g = m_groups.front();
      const bool last = m_groups.size() == 1;
      bool ok = true;
      if (!last) ok = emitGroup(g, stepWithin(g, kDefaultRate), true);
      else ok = emitGroup(g, stepWithin(g, m_wholeRate.value_or(kDefaultRate)), false);
      m_groups.pop_front();
      if (!ok) return false;
    }
    return true;
  }

 private:
  struct Group {
    double second = 0;
    std::vector<AccessUnit> units;
  };

  // A group is settled when what follows it is known: a whole second once another second has
  // begun after it; the first second once the second after it is known to be whole.
  bool emitSettledGroups() {
    while (m_groups.size() >= 3 || (m_groups.size() == 2 && m_firstDone)) {
      Group& g = m_groups.front();
      bool ok = true;
      if (!m_firstDone) {
        ok = emitGroup(g, stepWithin(g, static_cast<double>(m_groups[1].units.size())), true);
      } else {
        const double n = static_cast<double>(g.units.size());
        m_wholeRate = n;
        ok = emitGroup(g, 1.0 / n, false);
      }
      m_groups.pop_front();
      if (!ok) return false;
    }
    return true;
  }

  // The spacing of `rate` pictures a second, narrowed so that the group fits in its second.
  static double stepWithin(const Group& g, double rate) {
    return std::min(1.0 / std::max(rate, 1.0), 1.0 / static_cast<double>(g.units.size()));
  }

  // atEnd: the pictures end at the second's end (the file's first second), else they start at
  // its start.
  bool emitGroup(Group& g, double step, bool atEnd) {
    m_firstDone = true;
    const double n = static_cast<double>(g.units.size());
    const double base = atEnd ? g.second + 1.0 - n * step : g.second;
    for (std::size_t k = 0; k < g.units.size(); ++k)
      if (!out(std::move(g.units[k]), base + static_cast<double>(k) * step, step)) return false;
    if (m_onSecond && m_first)
      m_onSecond(g.second, std::llround((base - *m_first) * kTimeBase), std::llround((base + n * step - *m_first) * kTimeBase));
    return true;
  }

  bool out(AccessUnit&& unit, double time, double duration) {
    if (!m_first) m_first = time;
    std::int64_t pts = std::llround((time - *m_first) * kTimeBase);
    if (m_lastPts && pts <= *m_lastPts) pts = *m_lastPts + 1;  // the muxer needs growing times
    m_lastPts = pts;
    m_lastTime = time;
    if (duration > 0) m_lastDuration = duration;
    const std::int64_t ticks = std::max<std::int64_t>(1, std::llround(duration * kTimeBase));
    return m_emit(std::move(unit), pts, ticks);
  }

  TimeMode m_mode;
  double m_spreadStart;
  double m_step;
  Emit m_emit;
  SecondSpan m_onSecond;
  std::uint64_t m_count = 0;
  std::optional<AccessUnit> m_held;
  double m_heldTime = 0;
  double m_lastTime = 0;
  double m_lastDuration = 0;
  std::deque<Group> m_groups;        // the second being filled last
  bool m_firstDone = false;          // the file's first second was written
  std::optional<double> m_wholeRate; // pictures of the last whole second written
  std::optional<double> m_first;
  std::optional<std::int64_t> m_lastPts;
};

// Gives the times of the timeline, which come in decode order, to the pictures in display
// order: from one key unit to the next, the pictures are sorted by their picture order count
// and take the times in that order. Decode times are the same times moved back by the deepest
// reordering seen, so that they grow and never pass a picture's presentation time.
class DisplayOrder {
 public:
  using Emit = std::function<bool(AccessUnit&&, std::int64_t pts, std::int64_t dts, std::int64_t duration)>;
  explicit DisplayOrder(Emit emit) : m_emit(std::move(emit)) {}

  bool push(AccessUnit&& unit, std::int64_t time, std::int64_t duration) {
    if (unit.key && !flush()) return false;
    m_units.push_back(Slot{std::move(unit), time, duration});
    return true;
  }

  bool flush() {
    const std::size_t n = m_units.size();
    std::vector<std::size_t> byOrder(n);
    for (std::size_t i = 0; i < n; ++i) byOrder[i] = i;
    // Units without an order count keep their decode position.
    std::stable_sort(byOrder.begin(), byOrder.end(), [&](std::size_t a, std::size_t b) {
      const auto& ua = m_units[a].unit;
      const auto& ub = m_units[b].unit;
      if (!ua.order || !ub.order) return false;
      return *ua.order < *ub.order;
    });
    std::vector<std::size_t> rank(n);
    for (std::size_t r = 0; r < n; ++r) rank[byOrder[r]] = r;
    for (std::size_t i = 0; i < n; ++i) m_delay = std::max(m_delay, i > rank[i] ? i - rank[i] : 0);
    for (std::size_t i = 0; i < n; ++i) {
      const std::int64_t pts = m_units[rank[i]].time;
      std::int64_t dts = i >= m_delay ? m_units[i - m_delay].time
                                      : m_units[0].time - static_cast<std::int64_t>(m_delay - i) * m_units[0].duration;
      dts = std::min(dts, pts);
      if (m_lastDts && dts <= *m_lastDts) dts = *m_lastDts + 1;
      m_lastDts = dts;
      if (!m_emit(std::move(m_units[i].unit), pts, dts, m_units[rank[i]].duration)) return false;
    }
    m_units.clear();
    return true;
  }

 private:
  struct Slot {
    AccessUnit unit;
    std::int64_t time;
    std::int64_t duration;
  };
  Emit m_emit;
  std::vector<Slot> m_units;
  std::size_t m_delay = 0;
  std::optional<std::int64_t> m_lastDts;
};

TimeMode timeModeFor(const StreamInput& input) {
  const ConversionLayout layout = conversionLayoutFor(input.brand);
  if (input.walk == WalkKind::Library && layout.demuxer) return TimeMode::Exact;
  if (layout.carrier == VideoCarrier::RawStream) return input.pieceTimes.empty() ? TimeMode::Spread : TimeMode::Seconds;
  // Their packets carry no time: the frames spread over the entry's span, or run at the
  // default rate where the entry has no dates either.
  return layout.packetTimes ? TimeMode::Seconds : TimeMode::Spread;
}

std::string unsupportedName(const std::string& message) {
  const std::string prefix = "unsupported payload: ";
  return message.rfind(prefix, 0) == 0 ? message.substr(prefix.size()) : message;
}

std::string lossText(const ConvertedFile& f) {
  std::string text;
  if (f.lostFrames) text = std::to_string(f.lostFrames) + " frames lost";
  if (f.skippedBytes) text += (text.empty() ? "" : ", ") + std::to_string(f.skippedBytes) + " bytes skipped";
  return text.empty() ? text : text + " (damaged or foreign bytes)";
}

// "YYYY-MM-DD HH:MM:SS" of calendar seconds (the recorder's wall clock, no zone).
std::string calendarText(double seconds) {
  return dateTimeText(civilCalendar(static_cast<std::int64_t>(std::floor(seconds))));
}

// The clock track's text for a recorded second: the recorder's time, and the corrected time
// beside it when the task has a correction.
std::string clockCueText(double second, std::int64_t correction) {
  std::string text = calendarText(second);
  if (correction != 0) text += "  (corrected " + calendarText(second + static_cast<double>(correction)) + ")";
  return text;
}

// One line of the per-picture CSV.
struct FrameRow {
  std::int64_t pts = 0;
  std::optional<double> second;
  bool key = false;
  std::uint64_t origin = 0;
};

// Writes the CSV of the pictures written, in presentation order, through a partial file.
Result<void> writeFrameTimes(const std::string& path, std::vector<FrameRow> rows, std::int64_t correction,
                             const std::function<std::uint64_t(std::uint64_t)>& deviceOffset) {
  std::sort(rows.begin(), rows.end(), [](const FrameRow& a, const FrameRow& b) { return a.pts < b.pts; });
  std::string text = "index,pts,recorder_time,corrected_time,key,device_offset\n";
  char buf[64];
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const FrameRow& r = rows[i];
    std::snprintf(buf, sizeof buf, "%zu,%.6f,", i, static_cast<double>(r.pts) / kTimeBase);
    text += buf;
    if (r.second) text += calendarText(*r.second) + "," + calendarText(*r.second + static_cast<double>(correction));
    else text += ",";
    text += std::string(",") + (r.key ? "1" : "0") + "," + std::to_string(deviceOffset(r.origin)) + "\n";
  }
  const fs::path partial = partialPathFor(fs::u8path(path));
  {
    std::FILE* f = std::fopen(partial.c_str(), "wb");
    if (!f) return fail(ErrorCode::WriteFailed, "cannot create " + partial.string());
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !ok) {
      std::error_code ec;
      fs::remove(partial, ec);
      return fail(ErrorCode::WriteFailed, "cannot write " + partial.string());
    }
  }
  return commitPartial(partial, fs::u8path(path));
}

// The file's first audio packet (its payload copied), when one comes within the first
// kAudioProbeUnits pictures.
struct FirstAudio {
  AudioPacket packet;
  std::vector<std::uint8_t> payload;
};
std::optional<FirstAudio> firstAudio(const StreamInput& input) {
  StreamInput probe = input;
  probe.progress = nullptr;
  std::optional<FirstAudio> found;
  std::uint64_t units = 0;
  readStream(
      probe, [&](AccessUnit&&) { return !found && ++units < kAudioProbeUnits; },
      [&](const AudioPacket& a) {
        if (!found) found = FirstAudio{a, std::vector<std::uint8_t>(a.payload.begin(), a.payload.end())};
      });
  if (found) found->packet.payload = found->payload;
  return found;
}

}  // namespace

std::string frameTimesPathFor(const std::string& mp4Path) {
  const std::string stem = mp4Path.size() > 4 && mp4Path.ends_with(".mp4") ? mp4Path.substr(0, mp4Path.size() - 4) : mp4Path;
  return stem + ".frames.csv";
}

std::string creationTimeTag(const TimeConvention& convention, std::uint32_t time) {
  // The true time: the recorder's clock with the task's correction.
  const auto c = time ? convention.shownCalendar(time) : std::nullopt;
  return c ? isoDateTimeText(*c) + ".000000Z" : std::string();
}

std::vector<std::string> convertRelativePaths(const TaskContext& task) {
  auto paths = exportRelativePaths(task);
  for (auto& p : paths) {
    const auto dot = p.rfind('.');
    const auto slash = p.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) p.erase(dot);
    p += ".mp4";
  }
  return paths;
}

namespace {

// Spread mode: where the stream's pictures begin and how far apart they lie (the pictures are
// counted first, so that they spread over the entry's whole span).
std::pair<double, double> spreadOf(const StreamInput& input, TimeMode mode) {
  const double start = calendarSeconds(input.convention, input.entryStart).value_or(0);
  double step = 1.0 / kDefaultRate;
  if (mode == TimeMode::Spread) {
    StreamInput counting = input;
    counting.progress = nullptr;
    std::uint64_t count = 0;
    readStream(counting, [&](AccessUnit&&) { return ++count, true; });
    const auto end = calendarSeconds(input.convention, input.entryEnd);
    if (count > 0 && end && *end >= start) step = (*end + 1 - start) / static_cast<double>(count);
  }
  return {start, step};
}

}  // namespace

ConvertedFile convertStream(const StreamInput& input, const std::string& target, bool frameTimes) {
  StreamOptions options;
  options.frameTimes = frameTimes;
  return convertStreams({input}, target, options);
}

ConvertedFile convertStreams(const std::vector<StreamInput>& inputs, const std::string& target, const StreamOptions& options) {
  ConvertedFile out;
  out.path = target;
  if (inputs.empty()) {
    out.error = "nothing to convert";
    return out;
  }
  const StreamInput& input = inputs.front();
  const bool frameTimes = options.frameTimes;
  const std::optional<PictureWindow> window = options.window;
  const TimeMode mode = timeModeFor(input);
  auto [spreadStart, step] = spreadOf(input, mode);

  // Each input's file offsets continue those of the one before, so that one order runs through
  // all of them (the audio is laid beside its pictures by it).
  std::vector<std::uint64_t> bases{0};
  for (const StreamInput& in : inputs) bases.push_back(bases.back() + (in.bytes ? in.bytes->size().value_or(0) : 0));
  auto deviceOffsetOf = [&](std::uint64_t origin) {
    const std::size_t i = static_cast<std::size_t>(std::upper_bound(bases.begin(), bases.end(), origin) - bases.begin()) - 1;
    const std::size_t k = std::min(i, inputs.size() - 1);
    return inputs[k].deviceOffset ? inputs[k].deviceOffset(origin - bases[k]) : origin - bases[k];
  };

  std::unique_ptr<AudioTrack> audio;
  std::optional<FirstAudio> foundAudio = firstAudio(input);
  if (foundAudio) {
    out.audioFound = foundAudio->packet.name;
    if (auto track = AudioTrack::open(foundAudio->packet)) audio = std::move(*track);
    else out.audioError = track.error().message;
  }

  const std::string partial = partialPathFor(fs::u8path(target)).string();
  Mp4Writer writer;
  bool opened = false;
  std::string writeError;
  std::uint64_t failedUnits = 0;
  std::int64_t firstPts = -1, endPts = 0;
  std::vector<FrameRow> rows;
  DisplayOrder display([&](AccessUnit&& unit, std::int64_t pts, std::int64_t dts, std::int64_t duration) {
    if (!opened) {
      Mp4Header header;
      header.codec = unit.codec;
      header.parameterSets = parameterSets(unit, unit.codec);
      UnitDecoder decoder;
      if (decoder.open(unit.codec, header.parameterSets)) {
        (void)decoder.decodeKey(unit);  // the size is what is wanted here
        header.width = decoder.width();
        header.height = decoder.height();
      }
      header.creationTime = options.creationTime.empty() ? creationTimeTag(input.convention, input.entryStart) : options.creationTime;
      header.clockTrack = mode == TimeMode::Seconds;
      if (audio) header.audio = audio->stream();
      if (auto r = writer.open(partial, header); !r) {
        writeError = r.error().message;
        out.writeFailed = true;
        return false;
      }
      opened = true;
    }
    if (auto r = writer.write(unit, pts, dts, duration); !r) {
      writeError = r.error().message;
      if (r.error().code == ErrorCode::WriteFailed) {
        out.writeFailed = true;
        return false;
      }
      ++failedUnits;
      return true;
    }
    // Pictures before a window's start are there to be decoded, not shown.
    if (pts < 0) return true;
    if (frameTimes) rows.push_back(FrameRow{pts, unit.second, unit.key, unit.origin});
    firstPts = firstPts < 0 ? pts : std::min(firstPts, pts);
    endPts = std::max(endPts, pts + duration);
    if (unit.second) {
      out.firstSecond = std::min(out.firstSecond.value_or(*unit.second), *unit.second);
      out.lastSecond = std::max(out.lastSecond.value_or(*unit.second), *unit.second);
    }
    ++out.frames;
    if (unit.key) ++out.keyFrames;
    return true;
  });
  // Audio frames go into the file as soon as the pictures beside them have their times.
  auto writeAudio = [&](std::span<const std::uint8_t> frame, std::int64_t pts, std::int64_t duration) -> Result<void> {
    return writer.writeAudio(frame, pts, duration);
  };
  auto drainAudio = [&](bool end) {
    if (!audio || !opened) return !out.writeFailed;
    if (auto r = audio->drain(writeAudio, end); !r) {
      out.audioError = r.error().message;
      if (r.error().code == ErrorCode::WriteFailed) {
        writeError = r.error().message;
        out.writeFailed = true;
      }
      audio.reset();  // the track keeps what it has; the video goes on
    }
    return !out.writeFailed;
  };
  Timeline timeline(mode, spreadStart, step, [&](AccessUnit&& unit, std::int64_t pts, std::int64_t duration) {
    if (audio) audio->picture(unit.origin, pts);
    return display.push(std::move(unit), pts, duration) && drainAudio(false);
  });
  if (window) timeline.setOrigin(window->from);
  struct Cue {
    std::string text;
    std::int64_t start, end;
  };
  std::vector<Cue> cues;
  timeline.onSecond([&](double second, std::int64_t start, std::int64_t end) {
    if (end > 0) cues.push_back(Cue{clockCueText(second, input.convention.correction), std::max<std::int64_t>(start, 0), end});
  });

  StreamSummary total;
  bool inWindow = !window;
  std::vector<AccessUnit> preroll;  // from the last key picture before the window's start
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const StreamInput& in = inputs[i];
    if (i > 0 && mode == TimeMode::Spread) {
      const auto [start, next] = spreadOf(in, mode);
      timeline.respread(start, next);
    }
    std::uint64_t spreadCount = 0;
    const auto [inStart, inStep] = mode == TimeMode::Spread ? std::pair{timeline.spreadStart(), timeline.spreadStep()} : std::pair{0.0, 0.0};
    bool pastWindow = false;
    bool needKey = false;  // pictures of this input were left out: go on from a key picture
    const std::optional<PictureWindow> keep = i < options.inputWindows.size() ? options.inputWindows[i] : window;
    StreamSummary summary = readStream(
        in,
        [&](AccessUnit&& unit) {
          unit.origin += bases[i];
          if (keep) {
            const double t = unit.second.value_or(inStart + static_cast<double>(spreadCount++) * inStep);
            if (t >= keep->to) return !(pastWindow = true);
            if (!inWindow && t < keep->from) {
              if (unit.key) preroll.clear();
              if (unit.key || !preroll.empty()) preroll.push_back(std::move(unit));
              return true;
            }
            // A later input's pictures before its part of the window are another input's time.
            if (t < keep->from || (needKey && !unit.key)) return needKey = true;
            needKey = false;
            if (!inWindow) {
              inWindow = true;
              // A key picture at the start needs nothing before it.
              if (!unit.key)
                for (AccessUnit& u : preroll)
                  if (!timeline.push(std::move(u))) return false;
              preroll.clear();
            }
          }
          return timeline.push(std::move(unit)) && !out.writeFailed;
        },
        [&](const AudioPacket& packet) {
          if (!audio || !inWindow) return;
          AudioPacket shifted = packet;
          shifted.origin += bases[i];
          audio->add(shifted);
        });
    total.codec = total.codec != VideoCodec::Unknown ? total.codec : summary.codec;
    if (total.unsupported.empty() && summary.codec == VideoCodec::Unknown) total.unsupported = summary.unsupported;
    total.skippedBytes += summary.skippedBytes;
    total.lostUnits += summary.lostUnits;
    // A window's reading starts at a record before it: the pictures before its first key picture
    // were never meant for the clip.
    if (!window || in.startOffset == 0) total.leadingUnits += summary.leadingUnits;
    const bool userStop = summary.stopped && in.stop && in.stop->load() != 0;
    if (userStop || out.writeFailed || (summary.stopped && !pastWindow)) {
      total.stopped = true;
      break;
    }
  }
  if (total.codec != VideoCodec::Unknown) total.unsupported.clear();
  StreamSummary& summary = total;
  if (!summary.stopped || opened) {
    if (timeline.finish() && display.flush()) drainAudio(true);
  }
  if (audio) {
    out.audioWritten = audio->seconds() > 0;
    out.audioEncoded = audio->encoded();
    out.audioSeconds = audio->seconds();
  }
  out.codec = summary.codec != VideoCodec::Unknown ? codecName(summary.codec) : unsupportedName(summary.unsupported);
  out.skippedBytes = summary.skippedBytes;
  out.lostFrames = summary.lostUnits + summary.leadingUnits + failedUnits;
  const bool stoppedByUser = summary.stopped && input.stop && input.stop->load() != 0;
  if (window && !opened && !stoppedByUser && !out.writeFailed && summary.unsupported.empty()) {
    out.error = "no picture of the window decodes";
    return out;
  }
  if (stoppedByUser) {
    out.error = "stopped";
    return out;  // the writer removes the unfinished file
  }
  if (out.writeFailed) {
    out.error = writeError;
    return out;  // as is the one the disk refused
  }
  if (!summary.unsupported.empty()) {
    out.error = summary.unsupported;
    return out;
  }
  if (!opened) {
    out.error = writeError.empty() ? "no decodable key frame in the file" : writeError;
    return out;
  }
  for (const Cue& cue : cues) {
    if (auto r = writer.writeCue(cue.text, cue.start, std::max<std::int64_t>(1, cue.end - cue.start)); !r) {
      out.error = r.error().message;
      return out;
    }
    ++out.clockCues;
  }
  if (auto r = writer.finish(); !r) {
    out.error = r.error().message;
    out.writeFailed = true;
    return out;
  }
  if (auto committed = commitPartial(fs::u8path(partial), fs::u8path(target)); !committed) {
    std::error_code ec;
    fs::remove(fs::u8path(partial), ec);
    out.error = committed.error().message;
    out.writeFailed = true;
    return out;
  }
  out.written = true;
  if (frameTimes) {
    const std::string csv = frameTimesPathFor(target);
    if (auto r = writeFrameTimes(csv, std::move(rows), input.convention.correction, deviceOffsetOf); r) {
      out.frameTimesPath = csv;
      out.frameTimesSha256 = sha256OfFile(csv);
    } else {
      out.error = r.error().message;
    }
  }
  out.duration = out.frames ? static_cast<double>(endPts - firstPts) / kTimeBase : 0;
  out.sha256 = sha256OfFile(target);
  out.complete = out.lostFrames == 0 && out.skippedBytes == 0 && out.error.empty();
  if (!out.complete) out.error = out.error.empty() ? lossText(out) : out.error;
  return out;
}

StreamInput inputFor(TaskContext& task, const FileEntry& entry, EntrySource& source) {
  StreamInput input;
  input.bytes = &source;
  input.brand = task.description().brand;
  input.parseMode = task.description().parseMode;
  input.convention = task.timeConvention();
  input.decoding.zone = input.convention.zone;
  input.decoding.years = task.description().years;
  input.entryStart = entry.startTime;
  input.entryEnd = entry.endTime;
  input.stop = &task.stopFlag;
  // A raw stream's brands keep one record per packet: the record times time the stream.
  if (conversionLayoutFor(task.description().brand).carrier == VideoCarrier::RawStream)
    for (const auto& piece : source.pieces()) input.pieceTimes.emplace_back(piece.offset, piece.time);
  input.deviceOffset = [&source](std::uint64_t at) { return source.deviceOffset(at); };
  return input;
}

Result<std::vector<ConvertedFile>> convertFiles(TaskContext& task, TaskObserver& observer,
                                                const std::vector<std::uint64_t>& positions,
                                                const ConvertOptions& options) {
  const auto started = std::chrono::system_clock::now();
  auto run = beginFileRun(task, observer, positions, options.folder);
  if (!run) return std::unexpected(run.error());
  const auto& entries = run->entries();
  const auto paths = convertRelativePaths(task);
  removeStalePartials(fs::u8path(options.folder));  // what a killed run left

  std::vector<ConvertedFile> results;
  std::uint64_t doneBytes = 0;
  // A file the disk refuses ends the run; the files before it are whole and listed.
  std::optional<Error> writeFailure;
  for (auto p : positions) {
    if (task.stopRequested()) break;
    const FileEntry& entry = entries[p].second;
    const fs::path target = fs::u8path(options.folder) / fs::u8path(paths[p]);
    ConvertedFile out;
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
      writeFailure = Error{ErrorCode::WriteFailed, "cannot create " + target.parent_path().string() + ": " + ec.message(), 0};
      break;
    }
    auto finishOne = [&](ConvertedFile&& file) {
      file.index = p + 1;
      doneBytes += entry.size;
      run->finishFile(doneBytes);
      results.push_back(std::move(file));
    };
    if (!options.overwrite && fs::exists(target)) {
      out.path = target.string();
      out.skipped = true;
      out.sha256 = sha256OfFile(out.path);
      out.complete = true;
      finishOne(std::move(out));
      continue;
    }
    if (!hasStreamReader(task.description().brand)) {
      out.path = target.string();
      out.error = "unsupported payload: no stream reader for brand " + std::to_string(task.description().brand);
      out.codec = "";
      finishOne(std::move(out));
      continue;
    }
    auto source = EntrySource::open(task, entry);
    if (!source) {
      out.path = target.string();
      out.error = source.error().message;
      finishOne(std::move(out));
      continue;
    }
    StreamInput input = inputFor(task, entry, **source);
    input.walk = options.walk;
    const std::uint64_t before = doneBytes;
    std::int64_t lastNotice = -1;
    input.progress = [&](std::uint64_t walked) {
      const std::int64_t mib = static_cast<std::int64_t>(walked >> 20);
      if (mib == lastNotice) return;  // one notification per MiB is plenty
      lastNotice = mib;
      run->reach(before + std::min<std::uint64_t>(walked, entry.size));
    };
    out = convertStream(input, target.string(), options.frameTimes);
    if (out.error == "stopped") break;
    if (out.writeFailed) {
      writeFailure = Error{ErrorCode::WriteFailed, out.error, 0};
      break;
    }
    const std::uint64_t unreadable = (*source)->unreadableBytes();
    if (unreadable && out.written) {
      out.complete = false;
      out.error = "读取源设备失败,可能存在坏道: " + std::to_string(unreadable) + " bytes unreadable" +
                  (out.error.empty() ? "" : "; " + out.error);
    }
    finishOne(std::move(out));
  }
  std::vector<ManifestLine> lines;
  for (const ConvertedFile& f : results)
    if (f.written || f.skipped) {
      lines.push_back({f.skipped ? std::string() : f.sha256, manifestPath(options.folder, f.path)});
      if (!f.frameTimesPath.empty()) lines.push_back({f.frameTimesSha256, manifestPath(options.folder, f.frameTimesPath)});
    }
  auto manifest = updateManifest(options.folder, lines);
  if (writeFailure) return std::unexpected(*writeFailure);
  if (!manifest) return std::unexpected(manifest.error());
  if (auto reported = writeConvertDfxml(task, options, started, results); !reported) return std::unexpected(reported.error());
  return results;
}

FileSummary summariseStream(const StreamInput& input, bool countAll) {
  FileSummary out;
  UnitDecoder decoder;
  bool decoderOpen = false;
  StreamSummary summary = readStream(input, [&](AccessUnit&& unit) {
    ++out.frames;
    if (unit.key) ++out.keyFrames;
    if (!out.picture && unit.key) {
      if (!decoderOpen) {
        auto opened = decoder.open(unit.codec, parameterSets(unit, unit.codec));
        if (!opened) {
          out.pictureError = opened.error().message;
          return countAll;
        }
        decoderOpen = true;
      }
      auto picture = decoder.decodeKey(unit);
      if (picture) out.picture = std::move(*picture);
      else out.pictureError = picture.error().message;
    }
    return countAll || !out.picture;
  }, [&](const AudioPacket& packet) {
    if (out.audio.empty()) out.audio = packet.name;
  });
  out.clockTrack = timeModeFor(input) == TimeMode::Seconds;
  out.codec = summary.codec != VideoCodec::Unknown ? codecName(summary.codec) : unsupportedName(summary.unsupported);
  out.unsupported = summary.unsupported;
  if (!out.picture && out.pictureError.empty())
    out.pictureError = !summary.unsupported.empty() ? summary.unsupported : "no decodable key frame in the file";
  return out;
}

Result<FileSummary> summariseFile(TaskContext& task, std::uint64_t position, bool countAll) {
  const auto entries = fileMapEntries(task);
  if (position >= entries.size()) return fail(ErrorCode::InvalidArgument, "no file " + std::to_string(position + 1) + " in the task");
  if (!hasStreamReader(task.description().brand)) {
    FileSummary out;
    out.unsupported = "unsupported payload: no stream reader for brand " + std::to_string(task.description().brand);
    out.pictureError = out.unsupported;
    return out;
  }
  auto source = EntrySource::open(task, entries[position].second);
  if (!source) return std::unexpected(source.error());
  StreamInput input = inputFor(task, entries[position].second, **source);
  return summariseStream(input, countAll);
}

}  // namespace norvale::convert
