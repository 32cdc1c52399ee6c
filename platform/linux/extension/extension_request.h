#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/extension.h"

namespace platform::linux_platform {

// The running request: its input items, and whether and how often it was
// completed.
class ExtensionRequest : public NSExtensionContext {
 public:
  explicit ExtensionRequest(std::vector<std::shared_ptr<NSObject>> items) : items_(std::move(items)) {}
  const std::vector<std::shared_ptr<NSObject>>& inputItems() const override { return items_; }
  void completeRequestReturningItems(const std::vector<std::shared_ptr<NSObject>>&) override { ++completions_; }
  int completions() const { return completions_.load(); }

 private:
  std::vector<std::shared_ptr<NSObject>> items_;
  std::atomic<int> completions_{0};
};

}  // namespace platform::linux_platform
