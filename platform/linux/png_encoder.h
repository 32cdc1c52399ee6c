#pragma once

#include <optional>

#include "platform/av_foundation.h"
#include "platform/data.h"
#include "platform/status.h"

namespace platform::linux_platform {

// `image` as PNG file bytes, made with libavcodec's PNG encoder; none with
// `status` set when the image is empty or inconsistent or encoding fails.
std::optional<Data> EncodePNG(const CGImage& image, Status* status);

}  // namespace platform::linux_platform
