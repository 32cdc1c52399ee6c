#include "platform/linux/loading/lazy_av_foundation.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>

#include "platform/linux/loading/module_path.h"
#include "platform/linux/movies/movie_module.h"
#include "platform/one_line.h"

namespace platform::linux_platform {
namespace {

// What a movie is when the service cannot be had: no length, no frame.
class UnreadableAsset : public AVAsset {
 public:
  CMTime duration() override { return CMTime{}; }
};

class NoFrames : public AVAssetImageGenerator {
 public:
  void setAppliesPreferredTrackTransform(bool) override {}
  void setMaximumSize(int, int) override {}
  std::optional<CGImage> copyCGImageAtTime(CMTime, NSError* error) override {
    if (error) error->localizedDescription = "movie support is not available";
    return std::nullopt;
  }
};

}  // namespace

AVFoundation* LazyAVFoundation::service() {
  std::call_once(once_, [this] {
    void* module = ::dlopen(modulePath_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      std::fprintf(stderr, "halvernsignet-share: movie support is not available: %s\n", OneLine(::dlerror()).c_str());
      return;
    }
    using Entry = AVFoundation* (*)();
    auto entry = reinterpret_cast<Entry>(::dlsym(module, kMovieModuleEntry));
    if (entry == nullptr) {
      std::fprintf(stderr, "halvernsignet-share: %s is not a movie module\n", OneLine(modulePath_).c_str());
      return;
    }
    service_.reset(entry());
    loaded_ = service_ != nullptr;
  });
  return service_.get();
}

std::shared_ptr<AVAsset> LazyAVFoundation::assetWithURL(const URL& url) {
  if (AVFoundation* av = service()) return av->assetWithURL(url);
  return std::make_shared<UnreadableAsset>();
}

std::unique_ptr<AVAssetImageGenerator> LazyAVFoundation::imageGeneratorWithAsset(std::shared_ptr<AVAsset> asset) {
  if (AVFoundation* av = service()) return av->imageGeneratorWithAsset(std::move(asset));
  return std::make_unique<NoFrames>();
}

std::optional<Data> LazyAVFoundation::UIImagePNGRepresentation(const CGImage& image) {
  if (AVFoundation* av = service()) return av->UIImagePNGRepresentation(image);
  return std::nullopt;
}

std::string DefaultMovieModulePath() { return ModulePath("libhalvernsignet-movies.so"); }

}  // namespace platform::linux_platform
