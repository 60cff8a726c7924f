#pragma once
// The one place clips become MP4 files. Everything before it (the window, the channels, which
// file entries and which part of each) is the plan's (export/clip_plan.h); everything after it
// (the JSON, the exit code, the progress lines) is the caller's. An implementation reads only the
// bytes of the plan's used entries from the task's source, writes each clip through the
// partial-file path and rewrites the output folder's SHA256SUMS as the conversion does.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "export/clip_plan.h"
#include "task/task_context.h"

namespace norvale::convert {

struct ClipWriteOptions {
  std::string folder;      // the clips go to folder/<plan.fileName>
  bool overwrite = false;  // else an existing clip is left alone and reported as not written
  std::string commandLine;  // what report.dfxml names as the command that made the clips
  bool frameTimes = false;  // a CSV of every picture shown beside each clip
};

// What became of one plan.
struct ClipWritten {
  std::uint8_t channel = 0;
  std::string path;  // the MP4; empty when none was written
  // The recorder's times of the first and last picture shown, as it wrote them (calendar
  // seconds; the task's clock correction gives the shown times). Empty when no picture was.
  std::optional<double> firstSecond, lastSecond;
  std::uint64_t frames = 0;
  std::uint64_t keyFrames = 0;
  std::uint64_t skippedBytes = 0;  // bytes of the used entries that gave no picture
  std::uint64_t clockCues = 0;     // recorded seconds on the clock track
  double audioSeconds = 0;         // of the recorder's audio in the clip
  bool written = false;
  bool complete = false;  // written with every picture of the plan's covered spans
  std::string sha256;
  std::string frameTimesPath;  // the CSV beside it, when asked for and written
  std::string frameTimesSha256;
  std::string error;  // why nothing or not everything was written
};

// Writes one MP4 per plan that has recordings, in the order given, as the conversion writes
// them (convertStreams with the plan's window, each entry giving its part of it); reading
// starts at the last record kPrerollSeconds before an entry's part. A plan without recordings
// gets a result with no path and no error. The overall error is for what stops every clip (the
// folder cannot be written, no task is open); a clip that fails says so in its own result.
// Status codes 4 and 5 go to the observer as the conversion sends them, and the task's
// stop flag is honoured between pictures.
Result<std::vector<ClipWritten>> writeClips(TaskContext& task, TaskObserver& observer,
                                            const std::vector<ClipPlan>& plans, const ClipWriteOptions& options);

}  // namespace norvale::convert
