#include "platform/linux/movies/image_orientation.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/display.h>
}

namespace platform::linux_platform {

FrameOrientation OrientationFromDisplayMatrix(const std::array<std::int32_t, 9>& matrix) {
  // A negative determinant of the 2x2 part means the picture is mirrored.
  // FFmpeg marks a horizontal flip by negating the first column, so undoing
  // that leaves a pure rotation whose angle av_display_rotation_get reads.
  const double determinant = static_cast<double>(matrix[0]) * matrix[4] -
                             static_cast<double>(matrix[1]) * matrix[3];
  if (determinant == 0) return {};
  const bool mirrored = determinant < 0;
  std::array<std::int32_t, 9> rotation = matrix;
  if (mirrored) {
    rotation[0] = -rotation[0];
    rotation[3] = -rotation[3];
  }
  const double counterclockwise = av_display_rotation_get(rotation.data());
  if (!std::isfinite(counterclockwise)) return {};
  const int quarterTurns = ((static_cast<int>(std::lround(counterclockwise / 90.0)) % 4) + 4) % 4;

  // The exact matrix av_display_rotation_set builds for that quarter turn.
  static constexpr int kCos[4] = {1, 0, -1, 0};
  static constexpr int kSin[4] = {0, 1, 0, -1};
  FrameOrientation orientation{kCos[quarterTurns], -kSin[quarterTurns], kSin[quarterTurns],
                               kCos[quarterTurns]};
  if (mirrored) {
    orientation.a = -orientation.a;
    orientation.c = -orientation.c;
  }
  return orientation;
}

CGImage Reorient(const CGImage& image, FrameOrientation orientation) {
  if (orientation.isIdentity()) return image;
  const int w = image.width;
  const int h = image.height;
  CGImage out;
  out.channels = image.channels;
  out.width = orientation.swapsAxes() ? h : w;
  out.height = orientation.swapsAxes() ? w : h;
  out.pixels.resize(image.pixels.size());

  // Shift so the turned picture starts at (0, 0).
  const int xs[2] = {0, w - 1};
  const int ys[2] = {0, h - 1};
  int minX = 0, minY = 0;
  bool first = true;
  for (int x : xs) {
    for (int y : ys) {
      const int tx = orientation.a * x + orientation.c * y;
      const int ty = orientation.b * x + orientation.d * y;
      minX = first ? tx : std::min(minX, tx);
      minY = first ? ty : std::min(minY, ty);
      first = false;
    }
  }

  const auto channels = static_cast<std::size_t>(image.channels);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int dx = orientation.a * x + orientation.c * y - minX;
      const int dy = orientation.b * x + orientation.d * y - minY;
      const std::size_t from = (static_cast<std::size_t>(y) * w + x) * channels;
      const std::size_t to = (static_cast<std::size_t>(dy) * out.width + dx) * channels;
      std::memcpy(&out.pixels[to], &image.pixels[from], channels);
    }
  }
  return out;
}

}  // namespace platform::linux_platform
