#include <tuple>

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

// Opened after a store that did not happen, the host application would read
// the previous share's payload as this one's.
TEST_F(ShareTest, SuiteThatCannotTakeThePayloadLeavesTheHostClosedWithTheErrorAlert) {
  for (const bool opens : {false, true}) {
    SCOPED_TRACE(opens ? "suite opens but cannot be written" : "suite cannot be opened");
    defaults = std::make_shared<pt::InMemoryUserDefaultsSuites>();
    defaults->setOpens(opens);
    defaults->setWrites(false);
    report = std::make_shared<pt::RecordingOutcomeReport>();
    alerts = std::make_shared<pt::RecordingAlertPresenter>();
    output = std::make_shared<pt::RecordingOutput>();
    providers.clear();
    const auto openedBefore = opened().size();
    share({{"public.plain-text"}, {"public.plain-text"}});
    attachment(0).deliver(LoadedItem{std::string("Hello")});
    attachment(1).deliver(LoadedItem{std::string("again")});
    EXPECT_FALSE(stored());
    EXPECT_EQ(opened().size(), openedBefore);
    EXPECT_EQ(output->lines(), std::vector<std::string>{"[ERROR] Error loading data!"});
    EXPECT_EQ(alerts->alerts().size(), 1u);
    EXPECT_EQ(context->completions(), 1);
    ASSERT_EQ(report->handoffFailures().size(), 1u);
    EXPECT_NE(report->handoffFailures()[0].find(group), std::string::npos) << report->handoffFailures()[0];
    EXPECT_TRUE(report->items().empty());
  }
}

// Every attachment that does not reach the host application is named once,
// with its position, its name and why; nothing else is.
TEST_F(ShareTest, EveryItemLeftOutIsReportedOnceWithWhy) {
  using platform::NSError;
  struct Delivery {
    std::vector<std::string> types;
    LoadedItem item;
  };
  struct Case {
    const char* name;
    std::vector<Delivery> attachments;
    std::vector<std::tuple<std::int64_t, std::string, std::string>> leftOut;  // index, item, part of the reason
  };
  const std::string longText(50, 'x');
  const std::vector<Case> cases = {
      {"texts and a link before a photo",
       {{{"public.plain-text"}, std::string("hello")},
        {{"public.url"}, *platform::URL::URLWithString("https://example.com/a")},
        {{"public.plain-text"}, std::string("two\nlines " + longText)},
        {{"public.jpeg"}, File("/src/a.jpg")}},
       {{0, "\"hello\"", "last attachment is a photo"},
        {1, "https://example.com/a", "last attachment is a photo"},
        {2, "\"two lines " + longText.substr(0, 30) + "...\"", "last attachment is a photo"}}},
      {"photo and file before a text",
       {{{"public.jpeg"}, File("/src/a.jpg")}, {{"public.file-url"}, File("/src/Travel notes.pdf")},
        {{"public.plain-text"}, std::string("caption")}},
       {{0, "a.jpg", "last attachment is a text"}, {1, "Travel notes.pdf", "last attachment is a text"}}},
      {"a copy that fails, a movie without preview, an attachment of no kind",
       {{{"public.jpeg"}, File("/src/missing.jpg")},
        {{"public.mpeg-4"}, File("/src/broken.mp4")},
        {{"com.example.unknown"}, std::string("?")},
        {{"public.jpeg"}, File("/src/a.jpg")}},
       {{2, "", "none of the kinds"}, {0, "missing.jpg", "could not be copied: "},
        {1, "broken.mp4", "no preview could be made: no frame"}}},
      {"nothing left out", {{{"public.plain-text"}, std::string("a")}, {{"public.url"}, File("/x")}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    report = std::make_shared<pt::RecordingOutcomeReport>();
    files = std::make_shared<pt::InMemoryFileManager>();
    files->addFile("/src/a.jpg", "A");
    files->addFile("/src/Travel notes.pdf", "T");
    files->addFile("/src/broken.mp4", "B");
    av = std::make_shared<pt::FakeAVFoundation>();
    av->defaultMovie.frame.reset();
    providers.clear();
    std::vector<std::vector<std::string>> types;
    for (const Delivery& d : c.attachments) types.push_back(d.types);
    const auto openedBefore = opened().size();
    share(types);
    for (std::size_t i = 0; i < c.attachments.size(); ++i) {
      if (!attachment(i).requestedTypes().empty()) attachment(i).deliver(c.attachments[i].item);
    }
    EXPECT_EQ(opened().size(), openedBefore + 1);
    const auto reported = report->items();
    ASSERT_EQ(reported.size(), c.leftOut.size());
    for (std::size_t i = 0; i < reported.size(); ++i) {
      const auto& [index, item, reason] = c.leftOut[i];
      EXPECT_EQ(reported[i].index, index);
      EXPECT_EQ(reported[i].count, static_cast<std::int64_t>(c.attachments.size()));
      EXPECT_EQ(reported[i].item, item);
      EXPECT_NE(reported[i].reason.find(reason), std::string::npos) << reported[i].reason;
    }
    EXPECT_TRUE(report->handoffFailures().empty());
  }
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
