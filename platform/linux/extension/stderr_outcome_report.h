#pragma once

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/outcome_report.h"

namespace platform::linux_platform {

// Tells the person on a stdio stream (standard error), one whole line each:
//   halvernsignet-share: left out attachment 2 of 3 (IMG_0042.png): <reason>
// and counts the items left out, so the process can end with a status that
// says some were.
class StderrOutcomeReport : public OutcomeReport {
 public:
  explicit StderrOutcomeReport(std::FILE* stream) : stream_(stream) {}

  void itemLeftOut(const LeftOutItem& item) override;
  void handoffFailed(std::string_view reason) override;
  // A part of a shared folder that was not copied, the link `link` (saying
  // `target`): it leads out of the folder. Counted with the items left out.
  void linkLeftOut(const std::string& link, const std::string& target);

  int itemsLeftOut() const;
  // What was told, for a notification at the end.
  std::vector<LeftOutItem> leftOut() const;
  std::optional<std::string> handoffFailure() const;

 private:
  void writeLine(const std::string& text);

  std::FILE* stream_;
  mutable std::mutex mutex_;
  int itemsLeftOut_ = 0;
  std::vector<LeftOutItem> leftOut_;
  std::optional<std::string> handoffFailure_;
};

}  // namespace platform::linux_platform
