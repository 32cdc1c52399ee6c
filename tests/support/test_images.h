#pragma once

#include <optional>

#include "platform/av_foundation.h"
#include "platform/data.h"

namespace testsupport {

// PNG bytes read back with libavcodec's PNG decoder; none when they do not
// decode to 8-bit RGB or RGBA.
std::optional<platform::CGImage> DecodePNG(const platform::Data& png);

// The pixel at (x, y) as {r, g, b}.
struct RGB {
  int r = 0, g = 0, b = 0;
};
RGB PixelAt(const platform::CGImage& image, int x, int y);

}  // namespace testsupport
