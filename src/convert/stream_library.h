#pragma once
// The same walk through one of FFmpeg's demuxers, for the carriers it knows.
#include "convert/stream_reader.h"

namespace norvale::convert {

StreamSummary readWithDemuxer(const StreamInput& input, const char* formatName, const UnitSink& sink, const AudioSink& audio = {});

}  // namespace norvale::convert
