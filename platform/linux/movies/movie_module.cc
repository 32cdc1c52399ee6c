// Entry of the movie module: the one symbol the program looks up after
// loading it.
extern "C" {
#include <libavutil/log.h>
}

#include "platform/linux/movies/ffmpeg_av_foundation.h"
#include "platform/linux/movies/movie_module.h"

extern "C" __attribute__((visibility("default"))) platform::AVFoundation* halvernsignet_create_av_foundation() {
  // FFmpeg's own log lines ("moov atom not found", probing notes) would reach
  // the person's terminal beside the program's one line per movie left out,
  // which already says why.
  av_log_set_level(AV_LOG_QUIET);
  return new platform::linux_platform::FfmpegAVFoundation();
}
