#include "share/share_test_fixture.h"

namespace halvernsignet_mobile_Share {
namespace {

using platform::LoadedItem;

TEST_F(ShareTest, TextsAreStoredExactlyAndInCompletionOrder) {
  share({{"public.plain-text"}, {"public.plain-text"}, {"public.utf8-plain-text"}, {"public.url"}});
  attachment(0).deliver(LoadedItem{std::string("")});
  attachment(1).deliver(LoadedItem{std::string("same")});
  attachment(2).deliver(LoadedItem{std::string("same")});
  attachment(3).deliver(LoadedItem{*platform::URL::URLWithString("https://example.com/a%20b?q=1")});
  EXPECT_EQ(storedText(), (std::vector<std::string>{"", "same", "same", "https://example.com/a%20b?q=1"}));
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#text"});
}

TEST_F(ShareTest, LinkIsStoredAsItsAbsoluteTextUnderText) {
  share({{"public.url"}});
  attachment(0).deliver(LoadedItem{*platform::URL::URLWithString("https://example.com/")});
  EXPECT_EQ(storedText(), std::vector<std::string>{"https://example.com/"});
  EXPECT_EQ(opened(), std::vector<std::string>{"halvernsignet://dataUrl=ShareKey#text"});
}

// Each delivery that is not what the load promised ends in the error alert
// and appends nothing.
TEST_F(ShareTest, WrongDeliveriesOfTextsAndLinksFail) {
  struct Case {
    std::string type;
    std::optional<LoadedItem> item;
    std::optional<platform::NSError> error;
  };
  const std::vector<Case> cases = {
      {"public.plain-text", LoadedItem{platform::DataFromString("bytes")}, std::nullopt},
      {"public.plain-text", LoadedItem{*platform::URL::URLWithString("https://x/")}, std::nullopt},
      {"public.plain-text", std::nullopt, std::nullopt},
      {"public.plain-text", LoadedItem{std::string("with error")}, platform::NSError{"failed"}},
      {"public.url", LoadedItem{std::string("https://example.com/")}, std::nullopt},
      {"public.url", std::nullopt, platform::NSError{"failed"}},
  };
  for (const auto& c : cases) {
    providers.clear();
    output = std::make_shared<pt::RecordingOutput>();
    share({{c.type}});
    attachment(0).deliver(c.item, c.error);
    EXPECT_EQ(output->lines(), std::vector<std::string>{"[ERROR] Error loading data!"}) << c.type;
    EXPECT_TRUE(controller->sharedText().empty());
    EXPECT_EQ(context->completions(), 1);
  }
  EXPECT_FALSE(stored());
  EXPECT_EQ(alerts->alerts().size(), cases.size());
}

}  // namespace
}  // namespace halvernsignet_mobile_Share
