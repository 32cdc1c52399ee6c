#include "platform/linux/movies/ffmpeg_av_foundation.h"

#include <array>
#include <fstream>
#include <iterator>
#include <span>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/linux/movies/frame_scaler.h"
#include "platform/linux/movies/image_orientation.h"
#include "platform/linux/movies/movie_decoder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_files.h"
#include "tests/support/test_images.h"
#include "tests/support/test_movies.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/log.h>
}

namespace platform::linux_platform {
namespace {

using testsupport::MarkerGray;
using testsupport::PixelAt;
using testsupport::TestMovie;

constexpr int kThumbnailSide = 360;

class FfmpegAVFoundationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }

  std::filesystem::path makeMovie(const std::string& name, const TestMovie& movie) {
    const std::filesystem::path path = dir_.path() / name;
    const Status written = testsupport::WriteTestMovie(path, movie);
    EXPECT_TRUE(written.ok()) << written.message();
    return path;
  }

  // What the share controller does for a movie: transform on, 360x360, 600 s.
  std::optional<CGImage> thumbnail(const URL& url, NSError* error, std::int64_t* framesDecoded = nullptr) {
    auto generator = foundation_.imageGeneratorWithAsset(foundation_.assetWithURL(url));
    generator->setAppliesPreferredTrackTransform(true);
    generator->setMaximumSize(kThumbnailSide, kThumbnailSide);
    std::optional<CGImage> image = generator->copyCGImageAtTime(CMTimeMakeWithSeconds(600, 1), error);
    if (framesDecoded != nullptr) {
      *framesDecoded = dynamic_cast<FfmpegAVAssetImageGenerator&>(*generator).framesDecoded();
    }
    return image;
  }
  std::optional<CGImage> thumbnail(const std::filesystem::path& path, NSError* error,
                                   std::int64_t* framesDecoded = nullptr) {
    return thumbnail(URL::fileURLWithPath(path.string()), error, framesDecoded);
  }

  double seconds(const std::filesystem::path& path) {
    return CMTimeGetSeconds(foundation_.assetWithURL(URL::fileURLWithPath(path.string()))->duration());
  }

  testsupport::TempDir dir_;
  FfmpegAVFoundation foundation_;
};

bool IsRed(testsupport::RGB pixel) { return pixel.r > 180 && pixel.g < 80 && pixel.b < 80; }

// Which quadrant is red: 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right; -1 none or several.
int RedQuadrant(const CGImage& image) {
  int found = -1;
  for (int q = 0; q < 4; ++q) {
    const int x = (q % 2 == 0 ? 1 : 3) * image.width / 4;
    const int y = (q < 2 ? 1 : 3) * image.height / 4;
    if (IsRed(PixelAt(image, x, y))) {
      if (found >= 0) return -1;
      found = q;
    }
  }
  return found;
}

// The marker gray of the bottom-right quadrant, which is never red.
int Gray(const CGImage& image) { return PixelAt(image, 3 * image.width / 4, 3 * image.height / 4).g; }

// --- Duration -------------------------------------------------------------

TEST_F(FfmpegAVFoundationTest, DurationIsThePlayingTimeInEveryContainer) {
  for (const std::string name : {"two.mp4", "two.mov", "two.mkv", "two.ts"}) {
    SCOPED_TRACE(name);
    EXPECT_NEAR(seconds(makeMovie(name, TestMovie{.seconds = 2.0, .fps = 25})), 2.0, 1.0 / 25);
  }
  EXPECT_NEAR(seconds(makeMovie("mpeg4.mp4", TestMovie{.seconds = 3.0, .fps = 30, .codec = "mpeg4"})), 3.0,
              1.0 / 30);
}

TEST_F(FfmpegAVFoundationTest, DurationIsEndMinusStartNotEndTime) {
  // Transport streams start late; the length must not include the start.
  const auto path = makeMovie("late.ts", TestMovie{.seconds = 2.0, .fps = 25, .startSeconds = 10});
  EXPECT_NEAR(seconds(path), 2.0, 1.0 / 25);
  NSError error;
  const auto image = thumbnail(path, &error);
  ASSERT_TRUE(image) << error.localizedDescription;
  EXPECT_EQ(RedQuadrant(*image), 0);
}

// --- Which frame ----------------------------------------------------------

TEST_F(FfmpegAVFoundationTest, PastTheEndGivesTheLastKeyFrameDecodingOneFrame) {
  // 50 frames, key frames every 10: the last key frame is frame 40.
  struct Case {
    std::string name;
    TestMovie movie;
  };
  const std::vector<Case> cases = {
      {"plain.mp4", TestMovie{.gop = 10}},
      {"bframes.mp4", TestMovie{.gop = 10, .bFrames = 2}},
      {"mpeg4.mov", TestMovie{.gop = 10, .codec = "mpeg4"}},
      {"plain.mkv", TestMovie{.gop = 10}},
      {"plain.ts", TestMovie{.gop = 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NSError error;
    std::int64_t frames = 0;
    const auto image = thumbnail(makeMovie(c.name, c.movie), &error, &frames);
    ASSERT_TRUE(image) << error.localizedDescription;
    EXPECT_NEAR(Gray(*image), MarkerGray(40), 6);
    EXPECT_EQ(RedQuadrant(*image), 0);
    EXPECT_EQ(frames, 1);
  }
}

TEST_F(FfmpegAVFoundationTest, WithinTheMovieGivesTheKeyFrameAtOrBefore) {
  const auto asset = foundation_.assetWithURL(URL::fileURLWithPath(makeMovie("gop10.mp4", TestMovie{.gop = 10}).string()));
  auto generator = foundation_.imageGeneratorWithAsset(asset);
  // Key frames sit at 0.0, 0.4, 0.8, 1.2 and 1.6 s.
  for (const auto& [at, keyFrame] : std::vector<std::pair<double, int>>{{0, 0}, {1.0, 20}, {1.2, 30}, {1.59, 30}}) {
    SCOPED_TRACE(at);
    NSError error;
    const auto image = generator->copyCGImageAtTime(CMTimeMakeWithSeconds(at, 600), &error);
    ASSERT_TRUE(image) << error.localizedDescription;
    EXPECT_NEAR(Gray(*image), MarkerGray(keyFrame), 6);
  }
  // The generator kept using the asset's open file and decoded one frame each time.
  EXPECT_EQ(dynamic_cast<FfmpegAVAssetImageGenerator&>(*generator).framesDecoded(), 4);
  EXPECT_NEAR(CMTimeGetSeconds(asset->duration()), 2.0, 0.04);
}

// The fuzz target reads movies from memory: the same bytes must give what
// the file gives, including in containers that are read by seeking.
TEST_F(FfmpegAVFoundationTest, MovieReadFromMemoryGivesWhatTheFileGives) {
  const ImageRequest request{true, kThumbnailSide, kThumbnailSide};
  for (const auto& [name, movie] : std::vector<std::pair<std::string, TestMovie>>{
           {"plain.mp4", TestMovie{.gop = 10}}, {"turned.mov", TestMovie{.gop = 10, .rotation = 90}},
           {"plain.mkv", TestMovie{.gop = 10}}, {"late.ts", TestMovie{.gop = 10, .startSeconds = 10}}}) {
    SCOPED_TRACE(name);
    const auto path = makeMovie(name, movie);
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    MovieDecoder fromFile(path.string());
    MovieDecoder fromMemory{std::span<const std::uint8_t>(bytes)};
    EXPECT_EQ(CMTimeGetSeconds(fromMemory.duration()), CMTimeGetSeconds(fromFile.duration()));
    const auto expected = fromFile.imageAt(CMTimeMakeWithSeconds(600, 1), request);
    const auto image = fromMemory.imageAt(CMTimeMakeWithSeconds(600, 1), request);
    ASSERT_TRUE(expected.ok()) << expected.status().message();
    ASSERT_TRUE(image.ok()) << image.status().message();
    EXPECT_EQ(std::tie(image->width, image->height), std::tie(expected->width, expected->height));
    EXPECT_TRUE(image->pixels == expected->pixels);
    EXPECT_EQ(fromMemory.framesDecoded(), 1);
  }
  EXPECT_FALSE(MovieDecoder(std::span<const std::uint8_t>()).openStatus().ok());
}

// --- Size -----------------------------------------------------------------

TEST(FitWithin, ScalesDownKeepingAspectRoundingHalfUp) {
  EXPECT_EQ(FitWithin(640, 360, 1, 1, 360, 360), (PixelSize{360, 203}));  // 202.5 rounds up
  EXPECT_EQ(FitWithin(360, 640, 1, 1, 360, 360), (PixelSize{203, 360}));
  EXPECT_EQ(FitWithin(1920, 1080, 1, 1, 360, 360), (PixelSize{360, 203}));
  EXPECT_EQ(FitWithin(1000, 1000, 1, 1, 360, 360), (PixelSize{360, 360}));
  EXPECT_EQ(FitWithin(100000, 10, 1, 1, 360, 360), (PixelSize{360, 1}));  // never below 1
  EXPECT_EQ(FitWithin(1000, 500, 1, 1, 360, 0), (PixelSize{360, 180}));   // 0: that side unbounded
}

TEST(FitWithin, NeverScalesUpAndHonoursPixelAspect) {
  EXPECT_EQ(FitWithin(100, 50, 1, 1, 360, 360), (PixelSize{100, 50}));
  EXPECT_EQ(FitWithin(4000, 3000, 1, 1, 0, 0), (PixelSize{4000, 3000}));
  // Anamorphic 720x576 at 64:45 is shown 1024 wide.
  EXPECT_EQ(FitWithin(720, 576, 64, 45, 0, 0), (PixelSize{1024, 576}));
  EXPECT_EQ(FitWithin(720, 576, 64, 45, 360, 360), (PixelSize{360, 203}));
  EXPECT_EQ(FitWithin(720, 576, 0, 1, 360, 360), (PixelSize{360, 288}));  // unknown aspect: square
}

TEST_F(FfmpegAVFoundationTest, FrameFitsTheMaximumSizeAndIsNotScaledUp) {
  NSError error;
  const auto wide = thumbnail(makeMovie("wide.mp4", TestMovie{.width = 640, .height = 360}), &error);
  ASSERT_TRUE(wide) << error.localizedDescription;
  EXPECT_EQ(wide->width, 360);
  EXPECT_EQ(wide->height, 203);
  EXPECT_EQ(wide->channels, 3);
  EXPECT_EQ(wide->pixels.size(), 360u * 203u * 3u);

  const auto small = thumbnail(makeMovie("small.mp4", TestMovie{.width = 100, .height = 50}), &error);
  ASSERT_TRUE(small) << error.localizedDescription;
  EXPECT_EQ(small->width, 100);
  EXPECT_EQ(small->height, 50);
}

// --- Orientation ----------------------------------------------------------

TEST(OrientationFromDisplayMatrix, QuarterTurnsAndMirrors) {
  struct Case {
    double clockwise;
    bool mirrored;
    FrameOrientation expected;
  };
  // (x, y) is shown at (a*x + c*y, b*x + d*y), y pointing down.
  const Case cases[] = {
      {0, false, {1, 0, 0, 1}},    {90, false, {0, 1, -1, 0}},  {180, false, {-1, 0, 0, -1}},
      {270, false, {0, -1, 1, 0}}, {-90, false, {0, -1, 1, 0}}, {0, true, {-1, 0, 0, 1}},
      {90, true, {0, 1, 1, 0}},    {180, true, {1, 0, 0, -1}},  {270, true, {0, -1, -1, 0}},
      {89.6, false, {0, 1, -1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.clockwise << (c.mirrored ? " mirrored" : ""));
    std::array<std::int32_t, 9> matrix{};
    av_display_rotation_set(matrix.data(), c.clockwise);
    if (c.mirrored) av_display_matrix_flip(matrix.data(), 1, 0);
    const FrameOrientation o = OrientationFromDisplayMatrix(matrix);
    EXPECT_EQ((std::array<int, 4>{o.a, o.b, o.c, o.d}),
              (std::array<int, 4>{c.expected.a, c.expected.b, c.expected.c, c.expected.d}));
  }
  EXPECT_TRUE(OrientationFromDisplayMatrix({}).isIdentity());  // all zero: unusable
}

TEST(Reorient, MovesEveryPixel) {
  // 3x2 picture, one channel-triple per pixel numbered 0..5 row by row.
  CGImage image{3, 2, 3, {}};
  for (std::uint8_t i = 0; i < 6; ++i) image.pixels.insert(image.pixels.end(), {i, i, i});
  const auto order = [](const CGImage& turned) {
    std::vector<int> values;
    for (std::size_t i = 0; i < turned.pixels.size(); i += 3) values.push_back(turned.pixels[i]);
    return values;
  };
  const CGImage clockwise = Reorient(image, {0, 1, -1, 0});
  EXPECT_EQ(clockwise.width, 2);
  EXPECT_EQ(clockwise.height, 3);
  EXPECT_EQ(order(clockwise), (std::vector<int>{3, 0, 4, 1, 5, 2}));
  EXPECT_EQ(order(Reorient(image, {-1, 0, 0, -1})), (std::vector<int>{5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(order(Reorient(image, {-1, 0, 0, 1})), (std::vector<int>{2, 1, 0, 5, 4, 3}));
  EXPECT_EQ(order(Reorient(image, {0, 1, 1, 0})), (std::vector<int>{0, 3, 1, 4, 2, 5}));
}

TEST_F(FfmpegAVFoundationTest, DisplayMatrixTurnsThePictureAsMeant) {
  struct Case {
    double rotation;
    bool mirrored;
    bool portrait;
    int redQuadrant;
  };
  // The source is 320x240 with its top-left quadrant red; it fits 360x360 either way.
  const Case cases[] = {
      {0, false, false, 0}, {90, false, true, 1},  {180, false, false, 3}, {270, false, true, 2},
      {0, true, false, 1},  {90, true, true, 0},   {180, true, false, 2},  {270, true, true, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rotation << (c.mirrored ? " mirrored" : ""));
    const auto path = makeMovie("turned.mp4", TestMovie{.rotation = c.rotation, .mirrored = c.mirrored});
    NSError error;
    const auto image = thumbnail(path, &error);
    ASSERT_TRUE(image) << error.localizedDescription;
    EXPECT_EQ(image->width, c.portrait ? 240 : 320);
    EXPECT_EQ(image->height, c.portrait ? 320 : 240);
    EXPECT_EQ(RedQuadrant(*image), c.redQuadrant);
  }
}

TEST_F(FfmpegAVFoundationTest, TransformOffLeavesThePictureAsStored) {
  const auto path = makeMovie("portrait.mp4", TestMovie{.rotation = 90});
  auto generator = foundation_.imageGeneratorWithAsset(foundation_.assetWithURL(URL::fileURLWithPath(path.string())));
  generator->setMaximumSize(kThumbnailSide, kThumbnailSide);
  NSError error;
  const auto image = generator->copyCGImageAtTime(CMTimeMakeWithSeconds(0, 1), &error);
  ASSERT_TRUE(image) << error.localizedDescription;
  EXPECT_EQ(image->width, 320);
  EXPECT_EQ(RedQuadrant(*image), 0);
}

// --- PNG ------------------------------------------------------------------

TEST_F(FfmpegAVFoundationTest, PNGHasTheSignatureAndDecodesBackExactly) {
  for (int channels : {3, 4}) {
    SCOPED_TRACE(channels);
    CGImage image{7, 5, channels, {}};
    for (std::size_t i = 0; i < 7u * 5u * channels; ++i) image.pixels.push_back(static_cast<std::uint8_t>(i * 37));
    const auto png = foundation_.UIImagePNGRepresentation(image);
    ASSERT_TRUE(png);
    const Data signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    ASSERT_GE(png->size(), signature.size());
    EXPECT_TRUE(std::equal(signature.begin(), signature.end(), png->begin()));
    const auto decoded = testsupport::DecodePNG(*png);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 7);
    EXPECT_EQ(decoded->height, 5);
    EXPECT_EQ(decoded->channels, channels);
    EXPECT_EQ(decoded->pixels, image.pixels);
  }
}

TEST_F(FfmpegAVFoundationTest, PNGOfAMovieFrameHasTheFrameSize) {
  NSError error;
  const auto image = thumbnail(makeMovie("wide.mp4", TestMovie{.width = 640, .height = 360}), &error);
  ASSERT_TRUE(image);
  const auto png = foundation_.UIImagePNGRepresentation(*image);
  ASSERT_TRUE(png);
  const auto decoded = testsupport::DecodePNG(*png);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 360);
  EXPECT_EQ(decoded->height, 203);
}

TEST_F(FfmpegAVFoundationTest, PNGRefusesInconsistentImages) {
  EXPECT_FALSE(foundation_.UIImagePNGRepresentation(CGImage{}));
  EXPECT_FALSE(foundation_.UIImagePNGRepresentation(CGImage{4, 4, 3, std::vector<std::uint8_t>(10)}));
  EXPECT_FALSE(foundation_.UIImagePNGRepresentation(CGImage{1, 1, 2, std::vector<std::uint8_t>(2)}));
}

// --- Bad input ------------------------------------------------------------

TEST_F(FfmpegAVFoundationTest, FilesThatAreNotMoviesGiveNoFrameAndNoDuration) {
  const auto movie = makeMovie("good.mp4", TestMovie{});
  const auto size = std::filesystem::file_size(movie);
  std::vector<std::filesystem::path> bad;
  for (std::uintmax_t keep : {std::uintmax_t{0}, std::uintmax_t{100}, size / 2}) {
    const auto cut = dir_.path() / ("cut" + std::to_string(keep) + ".mp4");
    std::filesystem::copy_file(movie, cut);
    testsupport::TruncateFile(cut, keep);
    bad.push_back(cut);
  }
  bad.push_back(dir_.path() / "random.mp4");
  testsupport::WriteRandomFile(bad.back(), 100000, 7);
  bad.push_back(dir_.path() / "notes.txt");
  testsupport::WriteFile(bad.back(), "Shopping list\nmilk\neggs\n");
  bad.push_back(dir_.path() / "missing.mp4");
  bad.push_back(dir_.path());  // a directory
  bad.push_back(dir_.path() / "pipe.mp4");  // opening a FIFO would wait for a writer forever
  ASSERT_EQ(mkfifo(bad.back().c_str(), 0600), 0);
  bad.push_back("/dev/zero");

  for (const auto& path : bad) {
    SCOPED_TRACE(path.filename().string());
    EXPECT_TRUE(std::isnan(seconds(path)));
    NSError error;
    EXPECT_FALSE(thumbnail(path, &error));
    EXPECT_FALSE(error.localizedDescription.empty());
  }
}

TEST_F(FfmpegAVFoundationTest, DamagedMovieDataDoesNotCrashOrHang) {
  const auto movie = makeMovie("good.mp4", TestMovie{.width = 640, .height = 360, .gop = 10});
  const auto size = std::filesystem::file_size(movie);
  for (std::uint32_t seed = 1; seed <= 12; ++seed) {
    const auto damaged = dir_.path() / ("damaged" + std::to_string(seed) + ".mp4");
    std::filesystem::copy_file(movie, damaged);
    testsupport::OverwriteWithNoise(damaged, (size * seed) / 13, 64 + seed * 16, seed);
    NSError error;
    const auto image = thumbnail(damaged, &error);
    if (image) {
      EXPECT_LE(image->width, kThumbnailSide);
      EXPECT_LE(image->height, kThumbnailSide);
    } else {
      EXPECT_FALSE(error.localizedDescription.empty());
    }
  }
}

TEST_F(FfmpegAVFoundationTest, HugeDimensionsAreRefusedBeforeDecoding) {
  const auto path = makeMovie("huge.mp4", TestMovie{});
  // Rewrite the sample entry's width and height (24 bytes into the avc1/mp4v box) to 20000x20000.
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  const auto stsd = bytes.find("stsd");
  auto at = stsd == std::string::npos ? stsd : bytes.find("avc1", stsd);
  if (at == std::string::npos && stsd != std::string::npos) at = bytes.find("mp4v", stsd);
  ASSERT_NE(at, std::string::npos) << "no video sample entry";
  for (std::size_t i : {at + 28, at + 30}) {
    bytes[i] = static_cast<char>(0x4e);
    bytes[i + 1] = static_cast<char>(0x20);
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;

  NSError error;
  std::int64_t frames = -1;
  EXPECT_FALSE(thumbnail(path, &error, &frames));
  EXPECT_NE(error.localizedDescription.find("too large"), std::string::npos) << error.localizedDescription;
  EXPECT_EQ(frames, 0);
}

TEST_F(FfmpegAVFoundationTest, OnlyLocalFilesAndSingleFileContainersAreRead) {
  const auto movie = makeMovie("a.mp4", TestMovie{});
  const std::string path = movie.string();
  // Playlists that would pull in other files, though the files are movies.
  testsupport::WriteFile(dir_.path() / "list.mp4", "ffconcat version 1.0\nfile '" + path + "'\n");
  testsupport::WriteFile(dir_.path() / "list.m3u8",
                             "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n" + path + "\n#EXT-X-ENDLIST\n");
  std::vector<URL> refused = {URL::fileURLWithPath((dir_.path() / "list.mp4").string()),
                              URL::fileURLWithPath((dir_.path() / "list.m3u8").string())};
  const std::vector<std::string> otherURLs = {"concat:" + path + "|" + path, "http://127.0.0.1:9/a.mp4",
                                              "data:video/mp4,abc"};
  for (const std::string& text : otherURLs) {
    const auto url = URL::URLWithString(text);
    if (url) refused.push_back(*url);
  }
  ASSERT_GE(refused.size(), 4u);
  for (const URL& url : refused) {
    SCOPED_TRACE(url.absoluteString());
    EXPECT_FALSE(foundation_.assetWithURL(url)->duration().isValid());
    NSError error;
    EXPECT_FALSE(thumbnail(url, &error));
    EXPECT_FALSE(error.localizedDescription.empty());
  }
  // The movie itself is fine.
  EXPECT_TRUE(foundation_.assetWithURL(URL::fileURLWithPath(path))->duration().isValid());
}

TEST_F(FfmpegAVFoundationTest, GeneratorForAnotherPlatformsAssetGivesNoFrame) {
  class OtherAsset : public AVAsset {
    CMTime duration() override { return CMTimeMakeWithSeconds(1, 1); }
  };
  auto generator = foundation_.imageGeneratorWithAsset(std::make_shared<OtherAsset>());
  NSError error;
  EXPECT_FALSE(generator->copyCGImageAtTime(CMTimeMakeWithSeconds(0, 1), &error));
  EXPECT_FALSE(error.localizedDescription.empty());
}

}  // namespace
}  // namespace platform::linux_platform
