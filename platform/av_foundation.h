#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/data.h"
#include "platform/extension.h"
#include "platform/url.h"

namespace platform {

// A time as a rational number of seconds: value / timescale.
struct CMTime {
  std::int64_t value = 0;
  std::int32_t timescale = 0;  // 0: invalid (no time)
  bool isValid() const { return timescale > 0; }
};

// `seconds` at `preferredTimescale` (600 s at timescale 1 is 600/1).
CMTime CMTimeMakeWithSeconds(double seconds, std::int32_t preferredTimescale);

// The time in seconds; NaN for an invalid time.
double CMTimeGetSeconds(CMTime time);

// A decoded picture: 8-bit RGB (3 channels) or RGBA (4), rows packed tightly.
struct CGImage {
  int width = 0;
  int height = 0;
  int channels = 3;
  std::vector<std::uint8_t> pixels;  // width * height * channels bytes
};

// A movie file.
class AVAsset {
 public:
  virtual ~AVAsset() = default;
  // The playing time (end minus start); invalid when the file is not a movie
  // or its length is unknown.
  virtual CMTime duration() = 0;
};

// Takes still pictures out of an asset.
class AVAssetImageGenerator {
 public:
  virtual ~AVAssetImageGenerator() = default;
  // Turns frames as the movie is meant to be shown (its display matrix).
  virtual void setAppliesPreferredTrackTransform(bool applies) = 0;
  // Frames are scaled down, never up, to fit within width by height, aspect
  // ratio kept. 0 by 0 means no bound.
  virtual void setMaximumSize(int width, int height) = 0;
  // One frame at or near `requestedTime` (the tolerance is unbounded), or
  // none with `error` set when no frame can be had.
  virtual std::optional<CGImage> copyCGImageAtTime(CMTime requestedTime, NSError* error) = 0;
};

// The movie and image services.
class AVFoundation {
 public:
  virtual ~AVFoundation() = default;
  // An asset for the file at `url`. Never none: a file that is not a movie
  // gives an asset with an invalid duration and no frames.
  virtual std::shared_ptr<AVAsset> assetWithURL(const URL& url) = 0;
  virtual std::unique_ptr<AVAssetImageGenerator> imageGeneratorWithAsset(std::shared_ptr<AVAsset> asset) = 0;
  // The picture as PNG bytes, or none when it cannot be encoded.
  virtual std::optional<Data> UIImagePNGRepresentation(const CGImage& image) = 0;
};

}  // namespace platform
