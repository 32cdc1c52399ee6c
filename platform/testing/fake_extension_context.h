#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/extension.h"

namespace platform::testing {

// A request whose input items the test sets; counts completions.
class FakeExtensionContext : public NSExtensionContext {
 public:
  explicit FakeExtensionContext(std::vector<std::shared_ptr<NSObject>> items) : items_(std::move(items)) {}

  const std::vector<std::shared_ptr<NSObject>>& inputItems() const override { return items_; }
  void completeRequestReturningItems(const std::vector<std::shared_ptr<NSObject>>& items) override {
    if (items.empty()) ++completions_;
    else ++completionsWithItems_;
  }

  int completions() const { return completions_.load(); }
  int completionsWithItems() const { return completionsWithItems_.load(); }

 private:
  std::vector<std::shared_ptr<NSObject>> items_;
  std::atomic<int> completions_{0};
  std::atomic<int> completionsWithItems_{0};
};

}  // namespace platform::testing
