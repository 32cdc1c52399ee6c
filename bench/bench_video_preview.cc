// One video preview as the share extension makes it: duration, key frame near
// 600 s, fitted to 360x360 and turned upright, PNG, written to a fresh file.
// Prints the media record on stdout and the frames decoded on stderr.
//   bench_video_preview MOVIE
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <unistd.h>

#include "platform/linux/ffmpeg_av_foundation.h"
#include "platform/linux/movie_decoder.h"
#include "share/shared_media_file.h"

extern "C" {
#include <libavutil/log.h>
}

namespace fs = std::filesystem;
using namespace platform;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: bench_video_preview MOVIE\n";
    return 2;
  }
  av_log_set_level(AV_LOG_ERROR);
  const URL movieURL = URL::fileURLWithPath(fs::absolute(argv[1]).string());

  // A new directory each run, so no earlier thumbnail is ever reused.
  std::string dirPattern = (fs::temp_directory_path() / "bench-preview-XXXXXX").string();
  if (mkdtemp(dirPattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path dir = dirPattern;
  const fs::path thumbnailPath = dir / (movieURL.lastPathComponent() + ".jpg");

  const auto started = std::chrono::steady_clock::now();
  linux_platform::FfmpegAVFoundation foundation;
  const std::shared_ptr<AVAsset> asset = foundation.assetWithURL(movieURL);
  const double seconds = CMTimeGetSeconds(asset->duration());
  auto generator = foundation.imageGeneratorWithAsset(asset);
  generator->setAppliesPreferredTrackTransform(true);
  generator->setMaximumSize(360, 360);
  NSError error;
  const std::optional<CGImage> image = generator->copyCGImageAtTime(CMTimeMakeWithSeconds(600, 1), &error);
  const std::optional<Data> png = image ? foundation.UIImagePNGRepresentation(*image) : std::nullopt;

  std::optional<std::string> thumbnail;
  if (png) {
    const fs::path partial = thumbnailPath.string() + ".partial";
    std::ofstream(partial, std::ios::binary).write(reinterpret_cast<const char*>(png->data()),
                                                   static_cast<std::streamsize>(png->size()));
    fs::rename(partial, thumbnailPath);
    thumbnail = URL::fileURLWithPath(thumbnailPath.string()).absoluteString();
  } else {
    std::cerr << "no thumbnail: " << error.localizedDescription << "\n";
  }

  using halvernsignet_mobile_Share::SharedMediaFile;
  const std::optional<double> milliseconds =
      std::isfinite(seconds) ? std::optional<double>(std::round(seconds * 1000)) : std::nullopt;
  const auto record = std::make_shared<SharedMediaFile>(movieURL.absoluteString(), thumbnail, milliseconds,
                                                        halvernsignet_mobile_Share::SharedMediaType::video);
  const auto json = halvernsignet_mobile_Share::encodeMediaList({record});
  if (json) std::cout << StringFromData(*json) << "\n";
  const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - started;
  std::cerr << "frames decoded: " << linux_platform::FramesDecodedInProcess() << "\n"
            << "preview step: " << spent.count() << " ms\n";

  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return thumbnail ? 0 : 1;
}
