#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/status.h"

namespace testsupport {

// A small generated movie. Every frame has a red top-left quadrant (so that
// orientation can be checked) on a gray whose level tells the frame's index
// (see MarkerGray).
struct TestMovie {
  int width = 320;
  int height = 240;
  double seconds = 2.0;
  int fps = 25;
  int gop = 25;                 // frames from one key frame to the next
  int bFrames = 0;
  double rotation = 0;          // clockwise degrees in the display matrix
  bool mirrored = false;        // display matrix also flips horizontally
  double startSeconds = 0;      // time stamp of the first frame
  std::string codec = {};       // encoder name; empty: libx264 when present, else mpeg4
  std::string audioCodec = {};  // encoder of a silent stereo track at 48 kHz; empty: no audio
  double audioSeconds = 0;      // the audio track's length; 0: as long as the pictures
};

// Writes `movie` to `path`; the container follows the extension (.mp4,
// .mov, .mkv, .ts, ...).
platform::Status WriteTestMovie(const std::filesystem::path& path, const TestMovie& movie);

// Whether libavcodec here has the libx264 encoder.
bool HasH264Encoder();

// The 8-bit RGB gray of the non-red quadrants in frame `frameIndex`.
int MarkerGray(int frameIndex);

// File damage for robustness tests.
void TruncateFile(const std::filesystem::path& path, std::uintmax_t size);
void OverwriteWithNoise(const std::filesystem::path& path, std::uintmax_t offset, std::uintmax_t length,
                        std::uint32_t seed);
void WriteRandomFile(const std::filesystem::path& path, std::size_t size, std::uint32_t seed);

}  // namespace testsupport
