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

// A file keeps its own name only when that is exactly one path component;
// any other name would be the container itself, its parent or a path out of
// it, and the copy is named like a file without a name.
TEST_F(ShareTest, FileNamesThatAreNoSingleComponentAreReplacedByAUUID) {
  controller = makeController();
  const std::vector<std::string> sources = {"file:///p/sub/..", "file:///p/%2E%2E", "file:///p/sub/.",
                                            "file:///p/%2E", "file:///", "file:///p/a%2Fb"};
  int uuid = 0;
  for (const std::string& text : sources) {
    const auto url = platform::URL::URLWithString(text);
    ASSERT_TRUE(url) << text;
    EXPECT_EQ(controller->containerFileName(*url, SharedMediaType::file),
              "00000000-0000-4000-8000-00000000000" + std::to_string(++uuid) + ".TXT")
        << text << " (last component \"" << url->lastPathComponent() << "\")";
  }
}

}  // namespace
}  // namespace halvernsignet_mobile_Share
