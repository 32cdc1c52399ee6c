// Entry of the movie module: the one symbol the program looks up after
// loading it.
#include "platform/linux/ffmpeg_av_foundation.h"
#include "platform/linux/movie_module.h"

extern "C" __attribute__((visibility("default"))) platform::AVFoundation* halvernsignet_create_av_foundation() {
  return new platform::linux_platform::FfmpegAVFoundation();
}
