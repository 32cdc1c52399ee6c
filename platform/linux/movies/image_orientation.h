#pragma once

#include <array>
#include <cstdint>

#include "platform/av_foundation.h"

namespace platform::linux_platform {

// How a decoded picture is turned for display, as an exact quarter-turn
// matrix: a picture point (x, y) is shown at (a*x + c*y, b*x + d*y), with y
// pointing down. Covers the four rotations and their mirrored forms.
struct FrameOrientation {
  int a = 1, b = 0, c = 0, d = 1;
  bool swapsAxes() const { return a == 0; }
  bool isIdentity() const { return a == 1 && b == 0 && c == 0 && d == 1; }
};

// The orientation a stream's display matrix (nine 16.16/2.30 fixed-point
// values, as stored in the movie) asks for, snapped to the nearest quarter
// turn. A matrix with no usable rotation gives the identity.
FrameOrientation OrientationFromDisplayMatrix(const std::array<std::int32_t, 9>& matrix);

// `image` as shown under `orientation`.
CGImage Reorient(const CGImage& image, FrameOrientation orientation);

}  // namespace platform::linux_platform
