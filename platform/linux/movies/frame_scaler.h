#pragma once

#include <optional>

#include "platform/av_foundation.h"
#include "platform/linux/movies/ffmpeg_handles.h"
#include "platform/status_or.h"

namespace platform::linux_platform {

struct PixelSize {
  int width = 0;
  int height = 0;
  bool operator==(const PixelSize&) const = default;
};

// The size a width x height picture whose pixels have the aspect
// sampleAspectNum:sampleAspectDen is shown at, scaled down (never up) to fit
// within maxWidth x maxHeight with its aspect kept. A bound of 0 is no bound;
// an unknown aspect (0) counts as square. Sizes round half up, at least 1.
PixelSize FitWithin(int width, int height, int sampleAspectNum, int sampleAspectDen, int maxWidth,
                    int maxHeight);

// The decoded `frame` converted to 8-bit RGB (RGBA when it has alpha) at
// `size`. `scaler` keeps the conversion context between calls.
StatusOr<CGImage> ScaleFrame(const AVFrame& frame, PixelSize size, SwsContextPtr& scaler);

}  // namespace platform::linux_platform
