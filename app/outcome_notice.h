#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/outcome_report.h"

namespace app {

// How a share ended, told in one desktop notification to a person who has no
// terminal: a summary line, and a body that names each item left out and why.
struct OutcomeNotice {
  std::string summary;
  std::string body;  // one line per item left out; empty when nothing was
};

struct ShareOutcome {
  std::int64_t attachments = 0;                 // of the shared item
  std::optional<std::int64_t> entriesHandedOver;  // none: the suite never took a payload
  std::vector<platform::LeftOutItem> leftOut;
  std::optional<std::string> handoffFailure;    // why the suite could not take it
  int failedLoads = 0;                          // attachments whose load failed (error alerts)
};

OutcomeNotice DescribeOutcome(const ShareOutcome& outcome);

}  // namespace app
