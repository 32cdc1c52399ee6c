#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/extension.h"
#include "platform/linux/extension/item_load_queue.h"

namespace platform::linux_platform {

// An attachment whose data is known up front (a text, a URL, bytes, or a load
// error); its loads go through the shared queue, after an optional delay.
class QueuedItemProvider : public NSItemProvider {
 public:
  QueuedItemProvider(std::vector<std::string> types, ItemLoadQueue::Result result,
                     std::chrono::milliseconds delay, std::shared_ptr<ItemLoadQueue> queue)
      : types_(std::move(types)), result_(std::move(result)), delay_(delay), queue_(std::move(queue)) {}

  bool hasItemConformingToTypeIdentifier(const std::string& typeIdentifier) const override;
  void loadItemForTypeIdentifier(const std::string& typeIdentifier,
                                 NSItemProviderCompletionHandler completionHandler) override;

 private:
  const std::vector<std::string> types_;
  const ItemLoadQueue::Result result_;
  const std::chrono::milliseconds delay_;
  const std::shared_ptr<ItemLoadQueue> queue_;
};

}  // namespace platform::linux_platform
