#include "app/outcome_notice.h"

#include <gtest/gtest.h>

namespace app {
namespace {

TEST(DescribeOutcome, SaysHowManyReachedHalvernsignetAndWhyEachOtherDidNot) {
  const platform::LeftOutItem movie{0, 3, "broken.mp4", "no preview could be made: cannot open the movie"};
  const platform::LeftOutItem unknown{2, 3, "", "it is none of the kinds a share hands over"};
  struct Case {
    ShareOutcome outcome;
    std::string summary;
    std::string body;
  };
  const Case cases[] = {
      {{3, 3, {}, {}, 0}, "Shared 3 items with halvernsignet", ""},
      {{1, 1, {}, {}, 0}, "Shared 1 item with halvernsignet", ""},
      {{3, 1, {movie, unknown}, {}, 0}, "Shared 1 of 3 items with halvernsignet",
       "broken.mp4: no preview could be made: cannot open the movie\n"
       "Attachment 3: it is none of the kinds a share hands over"},
      {{1, 0, {{0, 1, "broken.mp4", "no preview could be made"}}, {}, 0}, "Nothing was shared with halvernsignet",
       "broken.mp4: no preview could be made"},
      {{2, 1, {}, {}, 1}, "Shared 1 of 2 items with halvernsignet", "1 item could not be loaded"},
      {{2, 2, {}, std::string("the settings suite cannot be written"), 1}, "Nothing was shared with halvernsignet",
       "Nothing could be stored for halvernsignet: the settings suite cannot be written"},
      {{2, std::nullopt, {}, {}, 0}, "Nothing was shared with halvernsignet", "The share was not completed"},
  };
  for (const Case& c : cases) {
    const OutcomeNotice notice = DescribeOutcome(c.outcome);
    EXPECT_EQ(notice.summary, c.summary);
    EXPECT_EQ(notice.body, c.body);
  }
}

}  // namespace
}  // namespace app
