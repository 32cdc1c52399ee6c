#include "share/share_view_controller.h"

#include <algorithm>
#include <random>
#include <thread>

#include "halvernsignet_build_config.h"
#include "share/share_test_fixture.h"

namespace halvernsignet_mobile_Share {
namespace {

using platform::LoadedItem;

TEST_F(ShareTest, InitialisersSetTheConstantsAndEmptyLists) {
  auto fromNib = ShareViewController::initWithNibName("Main", platform::NSBundle{"x"}, services());
  auto fromCoder = ShareViewController::initWithCoder(platform::NSCoder{true}, services());
  ASSERT_TRUE(fromCoder);
  for (const auto& c : {fromNib, fromCoder}) {
    EXPECT_EQ(c->hostAppBundleIdentifier, build_config::kHostAppBundleIdentifier);
    EXPECT_EQ(c->appGroupIdentifier(), group);
    EXPECT_EQ(c->shareProtocol, "halvernsignet");
    EXPECT_EQ(c->sharedKey, "ShareKey");
    EXPECT_EQ(c->imageContentType, "public.image");
    EXPECT_EQ(c->videoContentType, "public.movie");
    EXPECT_EQ(c->textContentType, "public.text");
    EXPECT_EQ(c->urlContentType, "public.url");
    EXPECT_EQ(c->fileURLType, "public.file-url");
    EXPECT_TRUE(c->sharedMedia().empty());
    EXPECT_TRUE(c->sharedText().empty());
    EXPECT_TRUE(c->isContentValid());
    EXPECT_TRUE(c->configurationItems().empty());
  }
  EXPECT_FALSE(ShareViewController::initWithCoder(platform::NSCoder{false}, services()));
}

TEST_F(ShareTest, WalkPicksTheFirstKindInTestOrder) {
  share({{"public.url", "public.jpeg"},           // image before URL
         {"public.plain-text", "public.file-url"},  // text before file URL
         {"public.file-url", "public.mpeg-4"},      // file URL before movie
         {"public.url", "public.mpeg-4"},           // URL before movie
         {"com.apple.quicktime-movie"},
         {"public.plain-text", "public.jpeg"}});    // image before text (a photo with its caption)
  EXPECT_EQ(attachment(0).requestedTypes(), std::vector<std::string>{"public.image"});
  EXPECT_EQ(attachment(1).requestedTypes(), std::vector<std::string>{"public.text"});
  EXPECT_EQ(attachment(2).requestedTypes(), std::vector<std::string>{"public.file-url"});
  EXPECT_EQ(attachment(3).requestedTypes(), std::vector<std::string>{"public.url"});
  EXPECT_EQ(attachment(4).requestedTypes(), std::vector<std::string>{"public.movie"});
  EXPECT_EQ(attachment(5).requestedTypes(), std::vector<std::string>{"public.image"});
}

TEST_F(ShareTest, UnmatchedAttachmentUsesUpItsIndex) {
  share({{"public.mpeg-4"}, {"com.example.unknown"}, {"public.plain-text"}});
  EXPECT_EQ(attachment(1).requestedTypes().size(), 0u);
  // The text at index 2 is the last attachment: its completion hands over.
  attachment(2).deliver(LoadedItem{std::string("hi")});
  EXPECT_EQ(storedText(), std::vector<std::string>{"hi"});
  EXPECT_EQ(context->completions(), 1);
}

TEST_F(ShareTest, LastAttachmentOfNoKindNeverHandsOver) {
  share({{"public.plain-text"}, {"com.example.unknown"}});
  attachment(0).deliver(LoadedItem{std::string("hi")});
  EXPECT_EQ(controller->sharedText(), std::vector<std::string>{"hi"});
  EXPECT_FALSE(stored());
  EXPECT_TRUE(opened().empty());
  EXPECT_EQ(context->completions(), 0);
}

TEST_F(ShareTest, RequestsWithNothingToLoadEndSilently) {
  share({{"com.example.unknown"}});
  show({});                                                        // no input item
  show({std::make_shared<platform::NSObject>()});                  // not an extension item
  show({std::make_shared<platform::NSExtensionItem>(std::nullopt)});  // no attachment list
  show({std::make_shared<platform::NSExtensionItem>(platform::NSExtensionItem::Attachments{})});
  controller = makeController();
  controller->viewDidAppear(false);  // no extension context at all
  EXPECT_EQ(attachment(0).requestedTypes().size(), 0u);
  EXPECT_EQ(context->completions(), 0);
  EXPECT_TRUE(output->lines().empty());
  EXPECT_TRUE(defaults->openedSuites().empty());
}

TEST_F(ShareTest, SecondInputItemIsIgnored) {
  auto second = std::make_shared<pt::FakeItemProvider>(std::vector<std::string>{"public.plain-text"});
  auto first = std::make_shared<pt::FakeItemProvider>(std::vector<std::string>{"public.plain-text"});
  show({std::make_shared<platform::NSExtensionItem>(platform::NSExtensionItem::Attachments{first}),
        std::make_shared<platform::NSExtensionItem>(platform::NSExtensionItem::Attachments{second})});
  EXPECT_EQ(first->requestedTypes().size(), 1u);
  EXPECT_EQ(second->requestedTypes().size(), 0u);
  first->dropPendingLoads();
}

TEST_F(ShareTest, EveryAppearanceStartsFreshLoadsWithoutClearingLists) {
  share({{"public.plain-text"}});
  controller->viewDidAppear(true);
  ASSERT_EQ(attachment(0).pendingLoads(), 2u);
  attachment(0).deliver(LoadedItem{std::string("a")});
  attachment(0).deliver(LoadedItem{std::string("b")});
  EXPECT_EQ(storedText(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(context->completions(), 2);
}

TEST_F(ShareTest, PostOnlyWritesItsLine) {
  share({{"public.plain-text"}});
  controller->didSelectPost();
  EXPECT_EQ(output->lines(), std::vector<std::string>{"didSelectPost"});
  EXPECT_EQ(context->completions(), 0);
  EXPECT_FALSE(stored());
}

TEST_F(ShareTest, CompletionsAfterTheControllerIsGoneDoNothing) {
  share({{"public.plain-text"}, {"public.jpeg"}, {"public.url"}});
  controller.reset();
  attachment(0).deliver(LoadedItem{std::string("hi")});
  attachment(1).deliver(std::nullopt, platform::NSError{"failed"});
  attachment(2).deliver(LoadedItem{*platform::URL::URLWithString("https://example.com/")});
  EXPECT_TRUE(output->lines().empty());
  EXPECT_TRUE(alerts->alerts().empty());
  EXPECT_TRUE(files->calls().empty());
  EXPECT_EQ(context->completions(), 0);
}

// Completions delivered at once from many threads, in a shuffled order: no
// append is lost, and the last attachment's handoff stores every earlier one.
TEST_F(ShareTest, ConcurrentCompletionsLoseNothing) {
  constexpr int kTexts = 64;
  share(std::vector<std::vector<std::string>>(kTexts, {"public.plain-text"}));
  std::vector<int> order(kTexts - 1);
  for (int i = 0; i < kTexts - 1; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int k = t; k < kTexts - 1; k += 4) attachment(order[k]).deliver(LoadedItem{std::to_string(order[k])});
    });
  }
  for (auto& thread : threads) thread.join();
  attachment(kTexts - 1).deliver(LoadedItem{std::string("last")});
  auto text = storedText();
  ASSERT_EQ(text.size(), static_cast<std::size_t>(kTexts));
  EXPECT_EQ(text.back(), "last");
  std::sort(text.begin(), text.end() - 1);
  std::vector<std::string> expected;
  for (int i = 0; i < kTexts - 1; ++i) expected.push_back(std::to_string(i));
  std::sort(expected.begin(), expected.end());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), text.begin()));
}

}  // namespace
}  // namespace halvernsignet_mobile_Share
