#pragma once

#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/extension.h"
#include "platform/type_identifiers.h"

namespace platform::testing {

// An attachment whose loads wait until the test delivers them, in any order
// and from any thread.
class FakeItemProvider : public NSItemProvider {
 public:
  explicit FakeItemProvider(std::vector<std::string> types) : types_(std::move(types)) {}

  bool hasItemConformingToTypeIdentifier(const std::string& typeIdentifier) const override {
    for (const auto& type : types_) {
      if (UTTypeConformsTo(type, typeIdentifier)) return true;
    }
    return false;
  }

  void loadItemForTypeIdentifier(const std::string& typeIdentifier,
                                 NSItemProviderCompletionHandler completionHandler) override {
    std::lock_guard lock(mutex_);
    requested_.push_back(typeIdentifier);
    pending_.push_back(std::move(completionHandler));
  }

  // The type identifiers loads were started with, in order.
  std::vector<std::string> requestedTypes() const {
    std::lock_guard lock(mutex_);
    return requested_;
  }
  std::size_t pendingLoads() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
  }

  // Forgets the loads still waiting (their completions hold the shared item,
  // which holds this provider).
  void dropPendingLoads() {
    std::lock_guard lock(mutex_);
    pending_.clear();
  }

  // Completes the oldest load still waiting.
  void deliver(std::optional<LoadedItem> item, std::optional<NSError> error = std::nullopt) {
    NSItemProviderCompletionHandler handler;
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty()) throw std::logic_error("no load to deliver");
      handler = std::move(pending_.front());
      pending_.pop_front();
    }
    handler(std::move(item), std::move(error));
  }

 private:
  const std::vector<std::string> types_;
  mutable std::mutex mutex_;
  std::vector<std::string> requested_;
  std::deque<NSItemProviderCompletionHandler> pending_;
};

}  // namespace platform::testing
