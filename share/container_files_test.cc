#include "share/share_test_fixture.h"

namespace halvernsignet_mobile_Share {
namespace {

TEST_F(ShareTest, CopyNamesFollowTheExtensionRule) {
  controller = makeController();
  auto name = [&](const std::string& path, SharedMediaType kind) {
    return controller->containerFileName(File(path), kind);
  };
  EXPECT_EQ(name("/p/IMG_0042.HEIC", SharedMediaType::image), "00000000-0000-4000-8000-000000000001.HEIC");
  EXPECT_EQ(name("/p/scan", SharedMediaType::image), "00000000-0000-4000-8000-000000000002.MP4");
  EXPECT_EQ(name("/p/scan", SharedMediaType::video), "00000000-0000-4000-8000-000000000003.MP4");
  EXPECT_EQ(name("/p/trip.final.mov", SharedMediaType::video), "00000000-0000-4000-8000-000000000004.mov");
  EXPECT_EQ(name("/p/notes.", SharedMediaType::image), "00000000-0000-4000-8000-000000000005.");
  EXPECT_EQ(name("/p/.profile", SharedMediaType::video), "00000000-0000-4000-8000-000000000006.profile");
  EXPECT_EQ(name("/p/archive.tar.gz", SharedMediaType::image), "00000000-0000-4000-8000-000000000007.gz");
  EXPECT_EQ(name("/p/Travel notes.pdf", SharedMediaType::file), "Travel notes.pdf");
  EXPECT_EQ(name("/p/README", SharedMediaType::file), "README");
  EXPECT_EQ(controller->containerFileName(*platform::URL::URLWithString("file:"), SharedMediaType::file),
            "00000000-0000-4000-8000-000000000008.TXT");
  EXPECT_EQ(controller->containerFileName(*platform::URL::URLWithString("file:///p/x.a%2Fb"),
                                          SharedMediaType::image),
            "00000000-0000-4000-8000-000000000009.MP4");
}

}  // namespace
}  // namespace halvernsignet_mobile_Share
