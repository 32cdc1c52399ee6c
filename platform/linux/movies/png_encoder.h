#pragma once

#include <optional>

#include "platform/av_foundation.h"
#include "platform/data.h"
#include "platform/status_or.h"

namespace platform::linux_platform {

// `image` as PNG file bytes, made with libavcodec's PNG encoder; a failure
// when the image is empty or inconsistent or encoding fails.
StatusOr<Data> EncodePNG(const CGImage& image);

}  // namespace platform::linux_platform
