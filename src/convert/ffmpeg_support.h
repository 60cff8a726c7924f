#pragma once
// Small things every file that calls FFmpeg needs.
#include <string>

namespace norvale::convert {

// FFmpeg's own warnings would interleave with the progress lines; losses are counted instead.
void quietFfmpeg();
// FFmpeg's text for an error code.
std::string ffmpegError(int code);

}  // namespace norvale::convert
