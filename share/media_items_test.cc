#include <algorithm>

#include "share/share_test_fixture.h"

namespace halvernsignet_mobile_Share {
namespace {

using platform::LoadedItem;

const std::string kFirstUUID = "00000000-0000-4000-8000-000000000001";

TEST_F(ShareTest, ImageIsCopiedUnderAFreshNameAndStoredAsMedia) {
  files->addFile("/photos/IMG_0042.HEIC", "pixels");
  share({{"public.heic"}});
  attachment(0).deliver(LoadedItem{File("/photos/IMG_0042.HEIC")});
  EXPECT_EQ(files->contents(containerPath() + "/" + kFirstUUID + ".HEIC"), "pixels");
  EXPECT_EQ(storedJson(), "[{\"path\":\"" + containerURL() + kFirstUUID + ".HEIC\",\"type\":0}]");
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#media"});
  // Nothing is left in the container but the copy.
  EXPECT_EQ(files->pathsUnder(containerPath()), std::vector<std::string>{containerPath() + "/" + kFirstUUID + ".HEIC"});
}

TEST_F(ShareTest, FileKeepsItsNameAndIsStoredAsFile) {
  files->addFile("/docs/Travel notes.pdf", "%PDF");
  share({{"com.adobe.pdf", "public.file-url"}});
  attachment(0).deliver(LoadedItem{File("/docs/Travel notes.pdf")});
  EXPECT_EQ(files->contents(containerPath() + "/Travel notes.pdf"), "%PDF");
  EXPECT_EQ(storedJson(), "[{\"path\":\"" + containerURL() + "Travel%20notes.pdf\",\"type\":2}]");
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#file"});
}

TEST_F(ShareTest, MovieOfferedAsFileURLIsAFile) {
  files->addFile("/v/clip.mp4", "movie");
  share({{"public.mpeg-4", "public.file-url"}});
  attachment(0).deliver(LoadedItem{File("/v/clip.mp4")});
  EXPECT_EQ(storedJson(), "[{\"path\":\"" + containerURL() + "clip.mp4\",\"type\":2}]");
  EXPECT_EQ(av->assetsOpened.load(), 0);
}

TEST_F(ShareTest, ImageThenFileOpensWithFileAndStoresBoth) {
  files->addFile("/a.png", "A");
  files->addFile("/b.txt", "B");
  share({{"public.png"}, {"public.file-url"}});
  attachment(0).deliver(LoadedItem{File("/a.png")});
  attachment(1).deliver(LoadedItem{File("/b.txt")});
  EXPECT_EQ(storedJson(), "[{\"path\":\"" + containerURL() + kFirstUUID + ".png\",\"type\":0},{\"path\":\"" +
                              containerURL() + "b.txt\",\"type\":2}]");
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#file"});
}

TEST_F(ShareTest, FailedCopyIsReportedAndLeftOutButTheShareGoesOn) {
  files->addFile("/photos/a.jpg", "A");
  files->failCopiesFrom("/photos/a.jpg", "Permission denied");
  share({{"public.jpeg"}});
  attachment(0).deliver(LoadedItem{File("/photos/a.jpg")});
  EXPECT_EQ(output->lines(), std::vector<std::string>{"Cannot copy item at file:///photos/a.jpg to " +
                                                      containerURL() + kFirstUUID + ".jpg: Permission denied"});
  EXPECT_EQ(storedJson(), "[]");
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#media"});
  EXPECT_TRUE(alerts->alerts().empty());
  EXPECT_TRUE(files->pathsUnder(containerPath()).empty());
}

TEST_F(ShareTest, MissingSourceGivesTheCopyLine) {
  share({{"public.file-url"}});
  attachment(0).deliver(LoadedItem{File("/gone/x y.txt")});
  ASSERT_EQ(output->lines().size(), 1u);
  EXPECT_EQ(output->lines()[0], "Cannot copy item at file:///gone/x%20y.txt to " + containerURL() +
                                    "x%20y.txt: No such file or directory");
}

// A new copy replaces an earlier one of the same name only once it is whole:
// a failed copy leaves the earlier file as it was, and no temporary file.
TEST_F(ShareTest, ReplacementNeverLosesTheEarlierFile) {
  files->addFile(containerPath() + "/notes.txt", "old");
  files->addFile("/a/notes.txt", "new");
  files->addFile("/b/notes.txt", "newer");
  files->failCopiesFrom("/b/notes.txt", "Input/output error");
  share({{"public.file-url"}, {"public.file-url"}});
  attachment(0).deliver(LoadedItem{File("/b/notes.txt")});
  EXPECT_EQ(files->contents(containerPath() + "/notes.txt"), "old");
  attachment(1).deliver(LoadedItem{File("/a/notes.txt")});
  EXPECT_EQ(files->contents(containerPath() + "/notes.txt"), "new");
  EXPECT_EQ(files->pathsUnder(containerPath()), std::vector<std::string>{containerPath() + "/notes.txt"});

  files->failReplacements("Device or resource busy");
  files->addFile("/c/notes.txt", "newest");
  share({{"public.file-url"}});
  attachment(2).deliver(LoadedItem{File("/c/notes.txt")});
  EXPECT_EQ(files->contents(containerPath() + "/notes.txt"), "new");
  EXPECT_EQ(files->pathsUnder(containerPath()), std::vector<std::string>{containerPath() + "/notes.txt"});
}

TEST_F(ShareTest, TwoFilesOfOneNameEndAsTheLaterCopyNamedTwice) {
  files->addFile("/a/same.txt", "first");
  files->addFile("/b/same.txt", "second");
  share({{"public.file-url"}, {"public.file-url"}});
  attachment(0).deliver(LoadedItem{File("/a/same.txt")});
  attachment(1).deliver(LoadedItem{File("/b/same.txt")});
  EXPECT_EQ(files->contents(containerPath() + "/same.txt"), "second");
  const std::string record = "{\"path\":\"" + containerURL() + "same.txt\",\"type\":2}";
  EXPECT_EQ(storedJson(), "[" + record + "," + record + "]");
}

// The copies reach the disk in one batch before the suite names them.
TEST_F(ShareTest, CopiesAreMadeDurableOnceBeforeTheHandoff) {
  files->addFile("/a.jpg", "A");
  files->addFile("/b.jpg", "B");
  share({{"public.jpeg"}, {"public.jpeg"}});
  attachment(0).deliver(LoadedItem{File("/a.jpg")});
  attachment(1).deliver(LoadedItem{File("/b.jpg")});
  const auto calls = files->calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "synchronize"), 1);
  EXPECT_EQ(calls.back(), "synchronize");
  EXPECT_TRUE(stored());
}

TEST_F(ShareTest, MediaLoadsThatDeliverNoFileURLFail) {
  files->addFile("/a.jpg", "A");
  share({{"public.jpeg"}, {"public.jpeg"}, {"public.file-url"}, {"public.mpeg-4"}});
  attachment(0).deliver(LoadedItem{File("/a.jpg")}, platform::NSError{"late error"});
  attachment(1).deliver(LoadedItem{platform::DataFromString("pixels")});
  attachment(2).deliver(LoadedItem{std::string("/a.jpg")});
  attachment(3).deliver(std::nullopt);
  EXPECT_EQ(alerts->alerts().size(), 4u);
  EXPECT_TRUE(controller->sharedMedia().empty());
  EXPECT_FALSE(stored());
  EXPECT_TRUE(files->pathsUnder(containerPath()).empty());
}

TEST_F(ShareTest, MissingContainerEndsWithTheAlert) {
  files->addFile("/a.jpg", "A");
  files->setContainerAvailable(false);
  share({{"public.jpeg"}});
  attachment(0).deliver(LoadedItem{File("/a.jpg")});
  EXPECT_EQ(alerts->alerts().size(), 1u);
  EXPECT_EQ(context->completions(), 1);
  EXPECT_FALSE(stored());
}

// Names that are not one path component would reach the container itself or
// its parent; they are named like a nameless file, and nothing outside the
// container is touched.
TEST_F(ShareTest, SourceNamesThatAreNoSingleComponentStayInsideTheContainer) {
  files->addFile("/d/x", "dir content");
  files->addFile(containerPath() + "/keep", "kept");
  files->addFile("/outside", "untouched");
  const std::vector<std::string> sources = {"file:///d/%2E%2E", "file:///d/.", "file:///", "file:///d/a%2Fb",
                                            "file:///d/%2E%2E%2F%2E%2E%2Foutside"};
  for (const auto& text : sources) {
    providers.clear();
    share({{"public.file-url"}});
    attachment(0).deliver(LoadedItem{*platform::URL::URLWithString(text)});
  }
  for (const auto& call : files->calls()) {
    if (call.rfind("copy ", 0) == 0 || call.rfind("replace ", 0) == 0 || call.rfind("remove ", 0) == 0) {
      const std::string destination = call.substr(call.rfind(' ') + 1);
      EXPECT_EQ(destination.rfind(containerPath() + "/", 0), 0u) << call;
      const std::string name = destination.substr(containerPath().size() + 1);
      EXPECT_EQ(name.find('/'), std::string::npos) << call;
      EXPECT_TRUE(name.ends_with(".TXT") || name.rfind(".incoming-", 0) == 0) << call;
    }
  }
  EXPECT_EQ(files->contents(containerPath() + "/keep"), "kept");
  EXPECT_EQ(files->contents("/outside"), "untouched");
}

}  // namespace
}  // namespace halvernsignet_mobile_Share

namespace halvernsignet_mobile_Share {
namespace {

// Media before a last text or link would be left out for their kind: they are
// not copied at all, and still named as left out; a media handoff tells which
// files its payload names.
TEST_F(ShareTest, MediaLeftOutForTheirKindAreNotCopiedAndTheHandoffNamesItsFiles) {
  files->addFile("/a.jpg", "A");
  files->addFile("/m.mp4", "M");
  share({{"public.jpeg"}, {"public.mpeg-4"}, {"public.plain-text"}});
  attachment(0).deliver(LoadedItem{File("/a.jpg")});
  attachment(1).deliver(LoadedItem{File("/m.mp4")});
  attachment(2).deliver(LoadedItem{std::string("hi")});
  EXPECT_TRUE(files->pathsUnder(containerPath()).empty());
  ASSERT_EQ(report->items().size(), 2u);
  EXPECT_EQ(report->items()[1].item, "m.mp4");
  EXPECT_NE(report->items()[1].reason.find("last attachment is a text"), std::string::npos);
  EXPECT_TRUE(controller->filesHandedOver().empty());
  EXPECT_EQ(controller->entriesHandedOver(), 1);

  providers.clear();
  share({{"public.mpeg-4"}});
  attachment(0).deliver(LoadedItem{File("/m.mp4")});
  const auto media = controller->sharedMedia();
  ASSERT_EQ(media.size(), 1u);
  EXPECT_EQ(controller->filesHandedOver(),
            (std::vector<std::string>{platform::URL::URLWithString(media[0]->path)->path(),
                                      platform::URL::URLWithString(*media[0]->thumbnail)->path()}));
}

}  // namespace
}  // namespace halvernsignet_mobile_Share
