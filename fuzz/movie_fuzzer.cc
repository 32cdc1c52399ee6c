// Any bytes shared as a movie: reading the duration and taking a frame never
// crash or hang, and a frame that comes out fits the thumbnail bound.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/linux/ffmpeg_av_foundation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    char name[] = "/tmp/hs-movie-fuzz-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return std::string(name);
  }();
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  platform::linux_platform::FfmpegAVFoundation av;
  auto asset = av.assetWithURL(platform::URL::fileURLWithPath(path));
  (void)platform::CMTimeGetSeconds(asset->duration());
  auto generator = av.imageGeneratorWithAsset(asset);
  generator->setAppliesPreferredTrackTransform(true);
  generator->setMaximumSize(360, 360);
  platform::NSError error;
  if (auto image = generator->copyCGImageAtTime(platform::CMTimeMakeWithSeconds(600, 1), &error)) {
    if (image->width < 1 || image->height < 1 || image->width > 360 || image->height > 360) std::abort();
    if (image->pixels.size() != static_cast<std::size_t>(image->width * image->height * image->channels)) std::abort();
    if (!av.UIImagePNGRepresentation(*image)) std::abort();
  }
  return 0;
}
