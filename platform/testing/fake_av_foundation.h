#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/av_foundation.h"

namespace platform::testing {

// Movies whose duration, frame and PNG bytes the test scripts; records how
// the generator was set up and asked.
class FakeAVFoundation : public AVFoundation {
 public:
  struct Movie {
    CMTime duration{2500, 1000};
    std::optional<CGImage> frame = CGImage{2, 1, 3, std::vector<std::uint8_t>(6, 0)};
    std::optional<Data> png = Data{0x89, 'P', 'N', 'G'};
  };

  // The movie every asset is, unless scripted per path.
  Movie defaultMovie;
  void script(const std::string& path, Movie movie) {
    std::lock_guard lock(mutex_);
    movies_[path] = std::move(movie);
  }

  std::shared_ptr<AVAsset> assetWithURL(const URL& url) override {
    ++assetsOpened;
    std::lock_guard lock(mutex_);
    auto it = movies_.find(url.path());
    return std::make_shared<Asset>(it == movies_.end() ? defaultMovie : it->second);
  }
  std::unique_ptr<AVAssetImageGenerator> imageGeneratorWithAsset(std::shared_ptr<AVAsset> asset) override {
    ++generatorsMade;
    return std::make_unique<Generator>(*this, std::static_pointer_cast<Asset>(asset));
  }
  std::optional<Data> UIImagePNGRepresentation(const CGImage& image) override {
    ++encodings;
    return lastPng_.has_value() && image.width > 0 ? lastPng_ : std::nullopt;
  }

  std::atomic<int> assetsOpened{0};
  std::atomic<int> generatorsMade{0};
  std::atomic<int> encodings{0};
  // What the last generator was set to and asked for.
  bool appliesPreferredTrackTransform = false;
  int maximumWidth = 0, maximumHeight = 0;
  std::optional<CMTime> requestedTime;

 private:
  struct Asset : AVAsset {
    explicit Asset(Movie m) : movie(std::move(m)) {}
    CMTime duration() override { return movie.duration; }
    Movie movie;
  };
  struct Generator : AVAssetImageGenerator {
    Generator(FakeAVFoundation& owner, std::shared_ptr<Asset> a) : av(owner), asset(std::move(a)) {}
    void setAppliesPreferredTrackTransform(bool applies) override { av.appliesPreferredTrackTransform = applies; }
    void setMaximumSize(int width, int height) override {
      av.maximumWidth = width;
      av.maximumHeight = height;
    }
    std::optional<CGImage> copyCGImageAtTime(CMTime requestedTime, NSError* error) override {
      av.requestedTime = requestedTime;
      av.lastPng_ = asset->movie.png;
      if (!asset->movie.frame && error) error->localizedDescription = "no frame";
      return asset->movie.frame;
    }
    FakeAVFoundation& av;
    std::shared_ptr<Asset> asset;
  };

  std::mutex mutex_;
  std::map<std::string, Movie> movies_;
  std::optional<Data> lastPng_;
};

}  // namespace platform::testing
