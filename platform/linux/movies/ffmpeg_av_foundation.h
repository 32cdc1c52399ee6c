#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/av_foundation.h"
#include "platform/url.h"

namespace platform::linux_platform {

class MovieDecoder;
struct ImageRequest;

// A movie file read with FFmpeg. The file is opened on first use and stays
// open for every generator made from this asset.
class FfmpegAVAsset : public AVAsset {
 public:
  explicit FfmpegAVAsset(URL url);
  ~FfmpegAVAsset() override;

  CMTime duration() override;

  // A still picture near `time`; see FfmpegAVAssetImageGenerator.
  std::optional<CGImage> copyImage(CMTime time, const ImageRequest& request, NSError* error);
  // Frames decoded for this asset so far.
  std::int64_t framesDecoded();

 private:
  MovieDecoder& decoder();  // with mutex_ held

  std::mutex mutex_;
  const URL url_;
  std::unique_ptr<MovieDecoder> decoder_;
};

// Takes the key frame at or before the asked time (the tolerance is
// unbounded), decoding that one frame only.
class FfmpegAVAssetImageGenerator : public AVAssetImageGenerator {
 public:
  // `asset` may be of another platform; then no frame can be had.
  explicit FfmpegAVAssetImageGenerator(std::shared_ptr<AVAsset> asset);

  void setAppliesPreferredTrackTransform(bool applies) override { appliesTransform_ = applies; }
  void setMaximumSize(int width, int height) override;
  std::optional<CGImage> copyCGImageAtTime(CMTime requestedTime, NSError* error) override;

  // Frames decoded by this generator's asset (1 per picture for a simple movie).
  std::int64_t framesDecoded() const;

 private:
  std::shared_ptr<FfmpegAVAsset> asset_;
  bool appliesTransform_ = false;
  int maxWidth_ = 0;
  int maxHeight_ = 0;
};

// The movie and image services on FFmpeg (libavformat, libavcodec, libswscale).
class FfmpegAVFoundation : public AVFoundation {
 public:
  std::shared_ptr<AVAsset> assetWithURL(const URL& url) override;
  std::unique_ptr<AVAssetImageGenerator> imageGeneratorWithAsset(std::shared_ptr<AVAsset> asset) override;
  std::optional<Data> UIImagePNGRepresentation(const CGImage& image) override;
};

}  // namespace platform::linux_platform
