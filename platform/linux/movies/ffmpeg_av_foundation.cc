#include "platform/linux/movies/ffmpeg_av_foundation.h"

#include <algorithm>

#include "platform/linux/movies/movie_decoder.h"
#include "platform/linux/movies/png_encoder.h"

namespace platform::linux_platform {

FfmpegAVAsset::FfmpegAVAsset(URL url) : url_(std::move(url)) {}

FfmpegAVAsset::~FfmpegAVAsset() = default;

MovieDecoder& FfmpegAVAsset::decoder() {
  if (!decoder_) {
    // Only file URLs: anything else would let FFmpeg reach the network or
    // other protocols. The decoder refuses the empty path.
    decoder_ = std::make_unique<MovieDecoder>(url_.isFileURL() ? url_.path() : std::string());
  }
  return *decoder_;
}

CMTime FfmpegAVAsset::duration() {
  std::lock_guard lock(mutex_);
  return decoder().duration();
}

std::optional<CGImage> FfmpegAVAsset::copyImage(CMTime time, const ImageRequest& request, NSError* error) {
  std::lock_guard lock(mutex_);
  StatusOr<CGImage> image = decoder().imageAt(time, request);
  if (!image.ok()) {
    if (error != nullptr) error->localizedDescription = image.status().message();
    return std::nullopt;
  }
  return std::move(image).value();
}

std::int64_t FfmpegAVAsset::framesDecoded() {
  std::lock_guard lock(mutex_);
  return decoder_ ? decoder_->framesDecoded() : 0;
}

FfmpegAVAssetImageGenerator::FfmpegAVAssetImageGenerator(std::shared_ptr<AVAsset> asset)
    : asset_(std::dynamic_pointer_cast<FfmpegAVAsset>(std::move(asset))) {}

void FfmpegAVAssetImageGenerator::setMaximumSize(int width, int height) {
  maxWidth_ = std::max(width, 0);
  maxHeight_ = std::max(height, 0);
}

std::optional<CGImage> FfmpegAVAssetImageGenerator::copyCGImageAtTime(CMTime requestedTime, NSError* error) {
  if (!asset_) {
    if (error != nullptr) error->localizedDescription = "the asset is not a movie file";
    return std::nullopt;
  }
  return asset_->copyImage(requestedTime, ImageRequest{appliesTransform_, maxWidth_, maxHeight_}, error);
}

std::int64_t FfmpegAVAssetImageGenerator::framesDecoded() const {
  return asset_ ? asset_->framesDecoded() : 0;
}

std::shared_ptr<AVAsset> FfmpegAVFoundation::assetWithURL(const URL& url) {
  return std::make_shared<FfmpegAVAsset>(url);
}

std::unique_ptr<AVAssetImageGenerator> FfmpegAVFoundation::imageGeneratorWithAsset(std::shared_ptr<AVAsset> asset) {
  return std::make_unique<FfmpegAVAssetImageGenerator>(std::move(asset));
}

std::optional<Data> FfmpegAVFoundation::UIImagePNGRepresentation(const CGImage& image) {
  StatusOr<Data> png = EncodePNG(image);
  if (!png.ok()) return std::nullopt;  // The interface has no room for the reason.
  return std::move(png).value();
}

}  // namespace platform::linux_platform
