#include <gtest/gtest.h>

#include "platform/linux/loading/lazy_av_foundation.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

namespace platform::linux_platform {
namespace {

TEST(LazyAVFoundation, LoadsTheModuleOnFirstUseAndReadsMovies) {
  testsupport::TempDir dir;
  const std::string movie = (dir.path() / "clip.mp4").string();
  testsupport::TestMovie options;
  options.seconds = 1;
  ASSERT_TRUE(testsupport::WriteTestMovie(movie, options).ok());

  LazyAVFoundation av(MOVIE_MODULE_PATH);
  EXPECT_FALSE(av.loaded());
  auto asset = av.assetWithURL(URL::fileURLWithPath(movie));
  EXPECT_TRUE(av.loaded());
  EXPECT_NEAR(CMTimeGetSeconds(asset->duration()), 1.0, 0.1);
  auto generator = av.imageGeneratorWithAsset(asset);
  generator->setMaximumSize(360, 360);
  NSError error;
  auto image = generator->copyCGImageAtTime(CMTimeMakeWithSeconds(600, 1), &error);
  ASSERT_TRUE(image) << error.localizedDescription;
  EXPECT_TRUE(av.UIImagePNGRepresentation(*image));
}

TEST(LazyAVFoundation, MissingModuleGivesMoviesWithoutLengthOrFrame) {
  LazyAVFoundation av("/nonexistent/libhalvernsignet-movies.so");
  auto asset = av.assetWithURL(URL::fileURLWithPath("/nonexistent/clip.mp4"));
  EXPECT_FALSE(asset->duration().isValid());
  NSError error;
  EXPECT_FALSE(av.imageGeneratorWithAsset(asset)->copyCGImageAtTime(CMTimeMakeWithSeconds(600, 1), &error));
  EXPECT_FALSE(error.localizedDescription.empty());
  EXPECT_FALSE(av.loaded());
}

}  // namespace
}  // namespace platform::linux_platform
