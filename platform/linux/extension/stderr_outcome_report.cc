#include "platform/linux/extension/stderr_outcome_report.h"

#include <string>

#include "platform/one_line.h"

namespace platform::linux_platform {

void StderrOutcomeReport::itemLeftOut(const LeftOutItem& item) {
  // Counted from 1 for a person, as a file manager or a shell lists them.
  writeLine("halvernsignet-share: left out attachment " + std::to_string(item.index + 1) + " of " +
            std::to_string(item.count) + " (" + item.item + "): " + item.reason);
  std::lock_guard lock(mutex_);
  ++itemsLeftOut_;
  leftOut_.push_back(item);
}

void StderrOutcomeReport::handoffFailed(std::string_view reason) {
  writeLine("halvernsignet-share: nothing handed over: " + std::string(reason));
  std::lock_guard lock(mutex_);
  handoffFailure_ = std::string(reason);
}

std::vector<LeftOutItem> StderrOutcomeReport::leftOut() const {
  std::lock_guard lock(mutex_);
  return leftOut_;
}

std::optional<std::string> StderrOutcomeReport::handoffFailure() const {
  std::lock_guard lock(mutex_);
  return handoffFailure_;
}

void StderrOutcomeReport::linkLeftOut(const std::string& link, const std::string& target) {
  writeLine("halvernsignet-share: left out the link " + link + " (to " + target +
            "): it leads out of the shared folder; the rest of the folder was handed over");
  std::lock_guard lock(mutex_);
  ++itemsLeftOut_;
}

int StderrOutcomeReport::itemsLeftOut() const {
  std::lock_guard lock(mutex_);
  return itemsLeftOut_;
}

void StderrOutcomeReport::writeLine(const std::string& text) {
  // Reasons repeat paths and texts: one line each, whatever they hold.
  const std::string line = OneLine(text);
  std::lock_guard lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), stream_);
  std::fputc('\n', stream_);
  std::fflush(stream_);
}

}  // namespace platform::linux_platform
