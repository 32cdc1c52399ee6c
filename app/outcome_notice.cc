#include "app/outcome_notice.h"

namespace app {
namespace {

std::string Items(std::int64_t count) { return std::to_string(count) + (count == 1 ? " item" : " items"); }

}  // namespace

OutcomeNotice DescribeOutcome(const ShareOutcome& outcome) {
  OutcomeNotice notice;
  std::vector<std::string> lines;
  if (outcome.handoffFailure) {
    lines.push_back("Nothing could be stored for halvernsignet: " + *outcome.handoffFailure);
  } else {
    for (const platform::LeftOutItem& item : outcome.leftOut) {
      // The same reasons as the lines on standard error.
      const std::string name = item.item.empty() ? "Attachment " + std::to_string(item.index + 1) : item.item;
      lines.push_back(name + ": " + item.reason);
    }
    if (outcome.failedLoads > 0) lines.push_back(Items(outcome.failedLoads) + " could not be loaded");
  }
  for (const std::string& line : lines) notice.body += (notice.body.empty() ? "" : "\n") + line;

  const std::int64_t reached = outcome.handoffFailure ? 0 : outcome.entriesHandedOver.value_or(0);
  if (reached == 0) {
    notice.summary = "Nothing was shared with halvernsignet";
    if (notice.body.empty()) notice.body = "The share was not completed";
  } else if (lines.empty() && reached == outcome.attachments) {
    notice.summary = "Shared " + Items(reached) + " with halvernsignet";
  } else {
    notice.summary = "Shared " + std::to_string(reached) + " of " + Items(outcome.attachments) + " with halvernsignet";
  }
  return notice;
}

}  // namespace app
