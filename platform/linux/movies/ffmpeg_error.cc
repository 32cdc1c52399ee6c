#include "platform/linux/movies/ffmpeg_error.h"

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
  std::string message = std::string(what) + ": " + FfmpegErrorText(errorCode);
  switch (errorCode) {
    case AVERROR_INVALIDDATA:
    case AVERROR_EOF:  // The file ended before what it promised.
      return Status::Corruption(std::move(message));
    case AVERROR_DECODER_NOT_FOUND:
    case AVERROR_DEMUXER_NOT_FOUND:
    case AVERROR_PROTOCOL_NOT_FOUND:
    case AVERROR_PATCHWELCOME:
      return Status::NotSupported(std::move(message));
    default:
      break;
  }
  // FFmpeg passes failed system calls on as AVERROR(errno), small negatives.
  if (errorCode < 0 && errorCode > -4096) return Status::FromErrno(-errorCode, std::move(message));
  return Status::IOError(std::move(message));
}

}  // namespace platform::linux_platform
