#include "share/share_test_fixture.h"

namespace halvernsignet_mobile_Share {
namespace {

using platform::LoadedItem;

TEST_F(ShareTest, OneTextIsStoredAsAListAndOpensWithText) {
  share({{"public.plain-text"}});
  attachment(0).deliver(LoadedItem{std::string("Hello")});
  EXPECT_EQ(defaults->openedSuites(), std::vector<std::string>{group});
  EXPECT_EQ(storedText(), std::vector<std::string>{"Hello"});
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#text"});
  EXPECT_EQ(context->completions(), 1);
  EXPECT_EQ(context->completionsWithItems(), 0);
}

TEST_F(ShareTest, OnlyTheLastIndexHandsOverWithWhatIsCollectedThen) {
  share({{"public.plain-text"}, {"public.plain-text"}, {"public.plain-text"}});
  attachment(2).deliver(LoadedItem{std::string("third")});
  attachment(0).deliver(LoadedItem{std::string("first")});
  attachment(1).deliver(LoadedItem{std::string("second")});
  EXPECT_EQ(storedText(), std::vector<std::string>{"third"});
  EXPECT_EQ(defaults->synchronizations(), 1);
  EXPECT_EQ(opened().size(), 1u);
  EXPECT_EQ(controller->sharedText(), (std::vector<std::string>{"third", "first", "second"}));
}

TEST_F(ShareTest, TheLastAttachmentsKindDecidesListAndRedirect) {
  files->addFile("/src/a.jpg", "A");
  share({{"public.jpeg"}, {"public.plain-text"}});
  attachment(0).deliver(LoadedItem{File("/src/a.jpg")});
  attachment(1).deliver(LoadedItem{std::string("caption")});
  EXPECT_EQ(storedText(), std::vector<std::string>{"caption"});
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#text"});
}

TEST_F(ShareTest, TextThenImageStoresOnlyTheMediaList) {
  files->addFile("/src/a.jpg", "A");
  share({{"public.plain-text"}, {"public.jpeg"}});
  attachment(0).deliver(LoadedItem{std::string("caption")});
  attachment(1).deliver(LoadedItem{File("/src/a.jpg")});
  EXPECT_EQ(storedJson(), "[{\"path\":\"" + containerURL() + "00000000-0000-4000-8000-000000000001.jpg\",\"type\":0}]");
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#media"});
}

TEST_F(ShareTest, StoreThatCannotBeOpenedStillOpensTheHost) {
  defaults->setOpens(false);
  share({{"public.plain-text"}});
  attachment(0).deliver(LoadedItem{std::string("Hello")});
  EXPECT_FALSE(stored());
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#text"});
  EXPECT_EQ(context->completions(), 1);
}

TEST_F(ShareTest, EveryResponderThatOpensURLsIsSentTheURLNearestFirst) {
  std::vector<std::string> log;
  pt::RecordingResponder last("last", true, nullptr, &log);
  pt::RecordingResponder silent("silent", false, &last, &log);
  pt::RecordingResponder first("first", true, &silent, &log);
  share({{"public.plain-text"}});
  controller->setNextResponder(&first);
  attachment(0).deliver(LoadedItem{std::string("x")});
  EXPECT_EQ(log, (std::vector<std::string>{"first halvernsignet://dataUrl=ShareKey#text",
                                           "last halvernsignet://dataUrl=ShareKey#text"}));
  EXPECT_EQ(context->completions(), 1);
}

TEST_F(ShareTest, NoResponderOpensURLsTheRequestStillCompletes) {
  share({{"public.plain-text"}});
  controller->setNextResponder(nullptr);
  attachment(0).deliver(LoadedItem{std::string("x")});
  EXPECT_EQ(context->completions(), 1);
}

TEST_F(ShareTest, FailedLoadShowsTheErrorAlertAndCompletesAtOnce) {
  share({{"public.plain-text"}});
  attachment(0).deliver(std::nullopt, platform::NSError{"gone"});
  EXPECT_EQ(output->lines(), std::vector<std::string>{"[ERROR] Error loading data!"});
  ASSERT_EQ(alerts->alerts().size(), 1u);
  const auto& alert = *alerts->alerts()[0];
  EXPECT_EQ(alert.title(), "Error");
  EXPECT_EQ(alert.message(), "Error loading data");
  EXPECT_EQ(alert.preferredStyle(), platform::UIAlertControllerStyle::alert);
  ASSERT_EQ(alert.actions().size(), 1u);
  EXPECT_EQ(alert.actions()[0]->title(), "Error");
  EXPECT_EQ(alert.actions()[0]->style(), platform::UIAlertActionStyle::cancel);
  EXPECT_EQ(alerts->animated(), std::vector<bool>{true});
  // Completed before anyone picks the action; picking it dismisses.
  EXPECT_EQ(context->completions(), 1);
  EXPECT_FALSE(controller->isDismissed());
  alert.actions()[0]->pick();
  EXPECT_TRUE(controller->isDismissed());
  EXPECT_FALSE(stored());
  EXPECT_TRUE(opened().empty());
}

TEST_F(ShareTest, AFailedLoadDoesNotStopTheOthers) {
  files->addFile("/src/a.jpg", "A");
  files->addFile("/src/b.jpg", "B");
  share({{"public.jpeg"}, {"public.jpeg"}, {"public.jpeg"}});
  attachment(0).deliver(std::nullopt, platform::NSError{"gone"});
  attachment(1).deliver(LoadedItem{File("/src/a.jpg")});
  attachment(2).deliver(LoadedItem{File("/src/b.jpg")});
  EXPECT_EQ(alerts->alerts().size(), 1u);
  EXPECT_EQ(context->completions(), 2);
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#media"});
  EXPECT_EQ(controller->sharedMedia().size(), 2u);
}

TEST_F(ShareTest, MovieWithoutAFiniteLengthIsStoredWithoutDuration) {
  av->defaultMovie.duration = platform::CMTime{};  // no length: NaN seconds
  files->addFile("/src/m.mp4", "M");
  share({{"public.mpeg-4"}});
  attachment(0).deliver(LoadedItem{File("/src/m.mp4")});
  const std::string json = storedJson();
  EXPECT_EQ(json.find("duration"), std::string::npos) << json;
  EXPECT_NE(json.find("\"thumbnail\""), std::string::npos) << json;
  EXPECT_TRUE(alerts->alerts().empty());
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#media"});
}

}  // namespace
}  // namespace halvernsignet_mobile_Share
