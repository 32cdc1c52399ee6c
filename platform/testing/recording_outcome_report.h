#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/outcome_report.h"

namespace platform::testing {

// Keeps every item left out and every failed handoff, in order.
class RecordingOutcomeReport : public OutcomeReport {
 public:
  void itemLeftOut(const LeftOutItem& item) override {
    std::lock_guard lock(mutex_);
    items_.push_back(item);
  }
  void handoffFailed(std::string_view reason) override {
    std::lock_guard lock(mutex_);
    handoffFailures_.emplace_back(reason);
  }

  std::vector<LeftOutItem> items() const {
    std::lock_guard lock(mutex_);
    return items_;
  }
  std::vector<std::string> handoffFailures() const {
    std::lock_guard lock(mutex_);
    return handoffFailures_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<LeftOutItem> items_;
  std::vector<std::string> handoffFailures_;
};

}  // namespace platform::testing
