#pragma once
// Playable copies of recovered files: one MP4 per file entry, by stream copy of the video the
// entry's bytes carry, with the recorder's times; and the first picture of a file. The bytes
// are those export writes, read from the source device; the source is never written.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "convert/decoder.h"
#include "convert/stream_reader.h"
#include "task/task_context.h"

namespace norvale::convert {

struct ConvertOptions {
  std::string folder;
  bool overwrite = false;  // else an existing file is skipped
  WalkKind walk = WalkKind::Own;
  std::string commandLine;  // what report.dfxml names as the command that made the files
  bool frameTimes = false;  // a CSV of every picture written beside each MP4
};

struct ConvertedFile {
  std::uint64_t index = 0;        // position in the file map, from 1
  std::string path;               // the MP4 (or where it would have been)
  std::string codec;              // "h264", "hevc", or what was found instead
  std::uint64_t frames = 0;       // written
  std::uint64_t keyFrames = 0;
  double duration = 0;            // seconds, from the written times
  std::uint64_t clockCues = 0;    // recorded seconds on the clock track
  std::string audioFound;         // the recorder's audio codec; empty: the file carries no audio
  bool audioWritten = false;      // an AAC track holds it
  bool audioEncoded = false;      // decoded and encoded as AAC (else copied)
  double audioSeconds = 0;        // of the audio track
  std::string audioError;         // why the audio found was not written
  std::uint64_t skippedBytes = 0; // no packet, damaged units, unreadable source bytes
  std::uint64_t lostFrames = 0;   // frames found but not written (damage, before the first key frame)
  bool skipped = false;           // the MP4 existed and was left alone
  bool written = false;
  bool complete = false;          // written with nothing lost
  std::string sha256;             // of the MP4
  std::string frameTimesPath;     // the CSV beside it, when asked for and written
  std::string frameTimesSha256;
  // The recorder's times (calendar seconds, as calendarSeconds gives them) of the first and last
  // picture shown; empty when the carrier gives no times.
  std::optional<double> firstSecond, lastSecond;
  std::string error;              // why frames were lost or nothing was written
  bool writeFailed = false;       // the output could not be written (full disk, permission)
};

// Converts the entries at the given 0-based file-map positions into folder/CHnn/day/<name>.mp4,
// sending the observer status codes 4 and 5 as export does, rewrites the folder's SHA256SUMS and writes
// report.dfxml. Stops
// between frames when the task's stop flag is raised (the unfinished file is removed). A file
// that cannot be written ends the run with its error, the files before it kept and listed.
Result<std::vector<ConvertedFile>> convertFiles(TaskContext& task, TaskObserver& observer,
                                                const std::vector<std::uint64_t>& positions,
                                                const ConvertOptions& options);

// Writes folder/report.dfxml for a conversion run: for each MP4 written (or kept), its own
// fileobject, which names in <norvale:derived_from> the fileobject of the recording it was made
// from; that one stands beside it with the recording's byte runs, read from the source again.
Result<void> writeConvertDfxml(TaskContext& task, const ConvertOptions& options,
                               std::chrono::system_clock::time_point started, const std::vector<ConvertedFile>& results);
// Converts a stream whose bytes are given (an exported file) into target; with frameTimes,
// writes frameTimesPathFor(target) too.
ConvertedFile convertStream(const StreamInput& input, const std::string& target, bool frameTimes = false);

// A stretch of the recorder's time, [from, to) in calendar seconds (as calendarSeconds gives them).
struct PictureWindow {
  double from = 0;
  double to = 0;
};

struct StreamOptions {
  bool frameTimes = false;
  std::optional<PictureWindow> window;
  // With a window: the part of it each input provides, one per input (empty: the whole window).
  // An input after the first goes on from its first key picture in its part.
  std::vector<PictureWindow> inputWindows;
  std::string creationTime;  // ISO 8601 UTC; empty: the first input's corrected start
};

// Converts the inputs, one after another in time order, into one MP4 whose times are the
// recorder's, so that a gap between them stays a gap. With a window, times count from its
// start: the pictures from the last key picture before it are written so that the first picture
// shown decodes, and an edit list makes the file play from the window's start (players that
// honour edit lists, as the common ones do, show nothing before it); no picture from its end on
// is read. frames, keyFrames, duration and the frame-time list count the pictures shown.
ConvertedFile convertStreams(const std::vector<StreamInput>& inputs, const std::string& target, const StreamOptions& options);

// The per-picture CSV beside an MP4: <name>.frames.csv.
std::string frameTimesPathFor(const std::string& mp4Path);

class EntrySource;
// The stream input of a file entry read through `source`: the task's brand, time convention,
// zone and years, its stop flag, the record times and the device offsets.
StreamInput inputFor(TaskContext& task, const FileEntry& entry, EntrySource& source);

// The MP4 names: the export's names with the extension .mp4.
std::vector<std::string> convertRelativePaths(const TaskContext& task);

// The creation_time tag of a brand time value: "YYYY-MM-DDTHH:MM:SS.000000Z" from the
// convention's calendar fields; empty when it has no date.
std::string creationTimeTag(const TimeConvention& convention, std::uint32_t time);

struct FileSummary {
  std::string codec;
  std::string unsupported;
  std::uint64_t frames = 0;
  std::uint64_t keyFrames = 0;
  std::string audio;     // the recorder's audio codec; empty: none found in what was read
  bool clockTrack = false;  // its MP4 carries the recorder's clock, second by second
  std::optional<RgbPicture> picture;  // the first key frame that decodes
  std::string pictureError;
};

// The first decodable key frame of a file entry, and with countAll its frame counts and audio (a full
// read of the file).
Result<FileSummary> summariseFile(TaskContext& task, std::uint64_t position, bool countAll);
// The same for a stream whose bytes are given.
FileSummary summariseStream(const StreamInput& input, bool countAll);

}  // namespace norvale::convert
