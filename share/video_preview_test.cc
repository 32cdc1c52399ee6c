#include "platform/base64.h"
#include "share/share_test_fixture.h"

namespace halvernsignet_mobile_Share {
namespace {

using platform::LoadedItem;

class VideoPreviewTest : public ShareTest {
 protected:
  void SetUp() override {
    controller = makeController();
    files->addDirectory(containerPath());
  }
  // The record, or none when no preview could be made.
  std::shared_ptr<SharedMediaFile> Preview(const platform::URL& movieCopy) {
    auto preview = controller->previewOfMovieCopy(movieCopy);
    return preview.ok() ? std::move(preview).value() : nullptr;
  }
  platform::URL Copy(const std::string& name) {
    files->addFile(containerPath() + "/" + name, "movie");
    return File(containerPath() + "/" + name);
  }
};

TEST_F(VideoPreviewTest, RecordNamesTheCopyAndAThumbnailFromItsBase64Name) {
  const std::string name = "0A1B2C3D-0000-4000-8000-00000000ABCD.mp4";  // 40 bytes
  const std::string encoded = platform::Base64EncodedString(platform::DataFromString(name));
  ASSERT_EQ(encoded.size(), 56u);
  ASSERT_TRUE(encoded.ends_with("=="));
  auto record = Preview(Copy(name));
  ASSERT_TRUE(record);
  EXPECT_EQ(record->path, containerURL() + name);
  EXPECT_EQ(record->thumbnail, containerURL() + encoded.substr(0, 54) + ".jpg");
  EXPECT_EQ(record->duration, 2500.0);
  EXPECT_EQ(record->type, SharedMediaType::video);
  EXPECT_EQ(files->contents(containerPath() + "/" + encoded.substr(0, 54) + ".jpg"), std::string("\x89PNG"));
  // The generator was set up as a thumbnail needs and asked for 600 s.
  EXPECT_TRUE(av->appliesPreferredTrackTransform);
  EXPECT_EQ(av->maximumWidth, 360);
  EXPECT_EQ(av->maximumHeight, 360);
  ASSERT_TRUE(av->requestedTime);
  EXPECT_EQ(av->requestedTime->value, 600);
  EXPECT_EQ(av->requestedTime->timescale, 1);
  // Written whole under a temporary name.
  const auto calls = files->calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(),
                      "write " + containerPath() + "/" + encoded.substr(0, 54) + ".jpg atomically"),
            calls.end());
}

TEST_F(VideoPreviewTest, SinglePadCharacterStays) {
  const std::string name = "0A1B2C3D-0000-4000-8000-00000000ABCD.mov1";  // 41 bytes
  auto record = Preview(Copy(name));
  ASSERT_TRUE(record);
  const std::string encoded = platform::Base64EncodedString(platform::DataFromString(name));
  ASSERT_TRUE(encoded.ends_with("=") && !encoded.ends_with("=="));
  EXPECT_EQ(record->thumbnail, containerURL() + encoded + ".jpg");
}

TEST_F(VideoPreviewTest, DurationIsRoundedToWholeMillisecondsHalvesAwayFromZero) {
  const std::pair<platform::CMTime, double> cases[] = {
      {{1236, 10000}, 124.0}, {{3, 2000}, 2.0}, {{2567, 10000}, 257.0}, {{1, 3}, 333.0}, {{0, 1}, 0.0}};
  int n = 0;
  for (const auto& [time, expected] : cases) {
    av->defaultMovie.duration = time;
    auto record = Preview(Copy("m" + std::to_string(n++) + ".mp4"));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->duration, expected);
  }
}

TEST_F(VideoPreviewTest, ExistingThumbnailIsUsedAsItIs) {
  const std::string name = "clip.mp4";
  const std::string thumbnail =
      platform::Base64EncodedString(platform::DataFromString(name)) + ".jpg";  // "Y2xpcC5tcDQ=" keeps its pad
  files->addFile(containerPath() + "/" + thumbnail, "");
  auto record = Preview(Copy(name));
  ASSERT_TRUE(record);
  EXPECT_EQ(record->thumbnail, containerURL() + thumbnail);
  EXPECT_EQ(record->duration, 2500.0);
  EXPECT_EQ(av->generatorsMade.load(), 0);
  EXPECT_EQ(files->contents(containerPath() + "/" + thumbnail), "");
}

TEST_F(VideoPreviewTest, NoFrameOrFailedWriteGivesNoRecordButPNGFailureStillDoes) {
  av->defaultMovie.frame.reset();
  EXPECT_FALSE(Preview(Copy("a.mp4")));

  av->defaultMovie = {};
  files->failWrites("No space left on device");
  EXPECT_FALSE(Preview(Copy("b.mp4")));

  av->defaultMovie.png.reset();
  auto record = Preview(Copy("c.mp4"));
  ASSERT_TRUE(record);
  EXPECT_FALSE(files->contents(containerPath() + "/" + record->thumbnail->substr(containerURL().size())));
}

// A movie with no preview goes unrecorded, but the share still hands over.
TEST_F(ShareTest, MovieWithoutPreviewStillEndsTheRequest) {
  av->defaultMovie.frame.reset();
  files->addFile("/v/clip.mov", "movie");
  share({{"com.apple.quicktime-movie"}});
  attachment(0).deliver(LoadedItem{File("/v/clip.mov")});
  EXPECT_EQ(storedJson(), "[]");
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#media"});
  EXPECT_EQ(context->completions(), 1);
  // The copy stays.
  EXPECT_EQ(files->pathsUnder(containerPath()).size(), 1u);
}

TEST_F(ShareTest, MovieRecordHasFourKeysAndOpensWithMedia) {
  files->addFile("/v/clip.mp4", "movie");
  av->defaultMovie.duration = {2567, 10000};
  share({{"public.mpeg-4"}});
  attachment(0).deliver(LoadedItem{File("/v/clip.mp4")});
  const std::string copy = "00000000-0000-4000-8000-000000000001.mp4";
  const std::string thumb = platform::Base64EncodedString(platform::DataFromString(copy)).substr(0, 54) + ".jpg";
  EXPECT_EQ(storedJson(), "[{\"path\":\"" + containerURL() + copy + "\",\"thumbnail\":\"" + containerURL() + thumb +
                              "\",\"duration\":257,\"type\":1}]");
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#media"});
}

}  // namespace
}  // namespace halvernsignet_mobile_Share
