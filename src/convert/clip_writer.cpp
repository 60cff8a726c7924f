#include "convert/clip_writer.h"

namespace norvale::convert {

// The MP4 writing of clips comes with the conversion's exact frame timing; until it is built
// this reports each clip that has recordings as not written, so that no caller can take the
// plan for a finished clip.
Result<std::vector<ClipWritten>> writeClips(TaskContext&, const std::vector<ClipPlan>& plans, const ClipWriteOptions&) {
  std::vector<ClipWritten> results;
  results.reserve(plans.size());
  for (const ClipPlan& plan : plans) {
    ClipWritten r;
    r.channel = plan.channel;
    if (plan.hasRecordings()) r.error = "writing clips as MP4 is not available in this build";
    results.push_back(std::move(r));
  }
  return results;
}

}  // namespace norvale::convert
