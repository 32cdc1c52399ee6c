#include "platform/linux/ffmpeg_error.h"

extern "C" {
#include <libavutil/error.h>
}

namespace platform::linux_platform {

std::string FfmpegErrorText(int errorCode) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(errorCode, text, sizeof text) < 0) {
    return "error " + std::to_string(errorCode);
  }
  return text;
}

Status FfmpegError(std::string_view what, int errorCode) {
  return Status::Error(std::string(what) + ": " + FfmpegErrorText(errorCode));
}

}  // namespace platform::linux_platform
