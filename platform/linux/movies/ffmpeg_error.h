#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace platform::linux_platform {

// FFmpeg's own text for an error code ("Invalid data found when processing input").
std::string FfmpegErrorText(int errorCode);

// A failed status reading "<what>: <FFmpeg's text>", with the code the error
// stands for (damaged data: corruption; a missing codec: not supported; a
// system error: its errno's code).
Status FfmpegError(std::string_view what, int errorCode);

}  // namespace platform::linux_platform
