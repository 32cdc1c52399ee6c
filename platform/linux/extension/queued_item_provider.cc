#include "platform/linux/extension/queued_item_provider.h"

#include <thread>

#include "platform/type_identifiers.h"

namespace platform::linux_platform {

bool QueuedItemProvider::hasItemConformingToTypeIdentifier(const std::string& typeIdentifier) const {
  for (const auto& type : types_) {
    if (UTTypeConformsTo(type, typeIdentifier)) return true;
  }
  return false;
}

void QueuedItemProvider::loadItemForTypeIdentifier(const std::string&,
                                                   NSItemProviderCompletionHandler completionHandler) {
  queue_->start(
      [result = result_, delay = delay_] {
        if (delay.count() > 0) std::this_thread::sleep_for(delay);
        return result;
      },
      std::move(completionHandler));
}

}  // namespace platform::linux_platform
