#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/av_foundation.h"

namespace platform::linux_platform {

// The movie service of the module at `modulePath`, loaded on first use. When
// the module cannot be loaded, that is said once on standard error and every
// movie has no length and no frame, so a share of one still ends.
class LazyAVFoundation : public AVFoundation {
 public:
  explicit LazyAVFoundation(std::string modulePath) : modulePath_(std::move(modulePath)) {}

  std::shared_ptr<AVAsset> assetWithURL(const URL& url) override;
  std::unique_ptr<AVAssetImageGenerator> imageGeneratorWithAsset(std::shared_ptr<AVAsset> asset) override;
  std::optional<Data> UIImagePNGRepresentation(const CGImage& image) override;

  // Whether the module has been loaded (tests).
  bool loaded() const { return loaded_; }

 private:
  AVFoundation* service();

  const std::string modulePath_;
  std::once_flag once_;
  // The module is never unloaded: objects it made may outlive this one.
  std::unique_ptr<AVFoundation> service_;
  bool loaded_ = false;
};

// The module beside the running program, or in its installed place.
std::string DefaultMovieModulePath();

}  // namespace platform::linux_platform
