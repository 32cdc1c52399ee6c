// The movie module on the minimal FFmpeg against the same module on Debian's
// FFmpeg (built only with -DHALVERNSIGNET_FFMPEG=minimal): byte-identical
// thumbnails and equal lengths for every format previews read, and nothing
// for formats left out of the minimal build. Movies are made with Debian's
// FFmpeg; each module keeps its own FFmpeg inside.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "platform/linux/loading/lazy_av_foundation.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

namespace platform::linux_platform {
namespace {

using testsupport::TestMovie;

struct Preview {
  CMTime duration;
  std::optional<Data> png;
};

// What a share makes of a movie: its length and a 360x360 PNG near 600 s.
Preview MakePreview(AVFoundation& av, const std::filesystem::path& movie) {
  auto asset = av.assetWithURL(URL::fileURLWithPath(movie.string()));
  Preview preview{asset->duration(), std::nullopt};
  auto generator = av.imageGeneratorWithAsset(asset);
  generator->setAppliesPreferredTrackTransform(true);
  generator->setMaximumSize(360, 360);
  NSError error;
  if (auto image = generator->copyCGImageAtTime(CMTimeMakeWithSeconds(600, 1), &error)) {
    preview.png = av.UIImagePNGRepresentation(*image);
  }
  return preview;
}

// The first encoder `movie` names that Debian's FFmpeg lacks, or "".
std::string MissingEncoder(const TestMovie& movie) {
  for (const std::string& name : {movie.codec, movie.audioCodec}) {
    if (!name.empty() && avcodec_find_encoder_by_name(name.c_str()) == nullptr) return name;
  }
  return {};
}

struct Case {
  std::string file;  // the container follows the extension
  TestMovie movie;
};

class MinimalFFmpegBuild : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }

  std::filesystem::path make(const Case& c) {
    const auto path = dir_.path() / c.file;
    const Status written = testsupport::WriteTestMovie(path, c.movie);
    EXPECT_TRUE(written.ok()) << c.file << ": " << written.message();
    return path;
  }

  testsupport::TempDir dir_;
  LazyAVFoundation minimal_{MINIMAL_MOVIE_MODULE};
  LazyAVFoundation system_{SYSTEM_MOVIE_MODULE};
};

TEST_F(MinimalFFmpegBuild, SameThumbnailsAndLengthsAsDebiansFFmpeg) {
  const std::vector<Case> cases = {
      {"h264.mp4", {.gop = 10, .codec = "libx264"}},
      {"h264-bframes.mkv", {.gop = 10, .bFrames = 2, .codec = "libx264"}},
      {"h264-late-start.ts", {.startSeconds = 10, .codec = "libx264"}},
      {"h264-turned.mov", {.rotation = 90, .codec = "libx264"}},
      {"h264.3gp", {.codec = "libx264"}},
      {"hevc.mp4", {.gop = 10, .codec = "libx265"}},
      {"mpeg4.avi", {.gop = 10, .codec = "mpeg4"}},
      {"mpeg2.ts", {.gop = 10, .codec = "mpeg2video"}},
      {"vp8.webm", {.gop = 10, .codec = "libvpx"}},
      {"vp9.webm", {.gop = 10, .codec = "libvpx-vp9"}},
      {"av1.mkv", {.width = 160, .height = 120, .seconds = 1, .gop = 10, .codec = "libaom-av1"}},
      {"prores.mov", {.seconds = 1, .codec = "prores_ks"}},
      {"mjpeg.avi", {.seconds = 1, .codec = "mjpeg"}},
      // Sound that outlasts the pictures sets the length; a transport stream
      // holds it only as the last audio packet's time stamp and duration.
      {"aac.ts", {.codec = "libx264", .audioCodec = "aac", .audioSeconds = 2.5}},
      {"ac3.ts", {.codec = "libx264", .audioCodec = "ac3", .audioSeconds = 2.5}},
      // E-AC-3: Debian's FFmpeg too ends the length where the last frame starts.
      {"eac3.ts", {.codec = "libx264", .audioCodec = "eac3", .audioSeconds = 2.5}},
      {"mp2.ts", {.codec = "mpeg2video", .audioCodec = "mp2", .audioSeconds = 2.5}},
      {"mp3.ts", {.codec = "libx264", .audioCodec = "libmp3lame", .audioSeconds = 2.5}},
      {"aac.mp4", {.codec = "libx264", .audioCodec = "aac", .audioSeconds = 2.5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string missing = MissingEncoder(c.movie);
    if (!missing.empty()) {
      ADD_FAILURE() << "Debian's FFmpeg has no encoder " << missing;
      continue;
    }
    const auto path = make(c);
    const Preview debian = MakePreview(system_, path);
    const Preview minimal = MakePreview(minimal_, path);
    ASSERT_TRUE(debian.png && debian.duration.isValid()) << "not a movie Debian's FFmpeg reads";
    ASSERT_TRUE(minimal.png) << "no thumbnail from the minimal build";
    if (c.movie.audioSeconds > c.movie.seconds) {
      EXPECT_GT(CMTimeGetSeconds(debian.duration), c.movie.seconds + 0.25) << "the sound does not set the length";
    }
    EXPECT_EQ(CMTimeGetSeconds(minimal.duration), CMTimeGetSeconds(debian.duration));
    EXPECT_TRUE(*minimal.png == *debian.png) << "thumbnails differ";
  }
}

TEST_F(MinimalFFmpegBuild, FormatsLeftOutGiveNoPreview) {
  const std::vector<Case> cases = {
      {"flash.flv", {.codec = "flv"}},
      {"theora.ogg", {.codec = "libtheora"}},
      {"wmv2.asf", {.codec = "wmv2"}},
      {"h264.flv", {.codec = "libx264"}},  // a codec it has in a container it has not
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto path = make(c);
    EXPECT_TRUE(MakePreview(system_, path).png) << "Debian's FFmpeg reads it";
    const Preview minimal = MakePreview(minimal_, path);
    EXPECT_FALSE(minimal.png);
    EXPECT_FALSE(minimal.duration.isValid());
  }
}

}  // namespace
}  // namespace platform::linux_platform
