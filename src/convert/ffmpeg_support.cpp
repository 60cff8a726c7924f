#include "convert/ffmpeg_support.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace norvale::convert {

void quietFfmpeg() {
  static const bool once = [] {
    av_log_set_level(AV_LOG_FATAL);
    return true;
  }();
  (void)once;
}

std::string ffmpegError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace norvale::convert
