#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/data.h"
#include "platform/url.h"

namespace platform {

// Root of the objects that travel in an extension request (the input items).
class NSObject {
 public:
  virtual ~NSObject() = default;
};

// The error a failed load reports.
struct NSError {
  std::string localizedDescription;
};

// What a load delivers in place of the platform's secure-coding object: a
// string, a URL, or bytes. Each completion checks which one it got.
using LoadedItem = std::variant<std::string, URL, Data>;

// Called exactly once per load, with the item or none and the error or none.
using NSItemProviderCompletionHandler =
    std::function<void(std::optional<LoadedItem> item, std::optional<NSError> error)>;

// One attachment of a shared item.
class NSItemProvider {
 public:
  virtual ~NSItemProvider() = default;

  // Whether the attachment offers data of `typeIdentifier` or of a type that
  // conforms to it.
  virtual bool hasItemConformingToTypeIdentifier(const std::string& typeIdentifier) const = 0;

  // Starts loading the attachment as `typeIdentifier` (no options) and returns
  // at once. The handler is called exactly once, later, on a thread of the
  // provider's choosing, possibly while other loads' handlers run.
  virtual void loadItemForTypeIdentifier(const std::string& typeIdentifier,
                                         NSItemProviderCompletionHandler completionHandler) = 0;
};

// One shared item. `attachments` is none when the item carries no attachment
// list at all (which is not the same as an empty list). Immutable once made,
// so completions may read it from any thread.
class NSExtensionItem : public NSObject {
 public:
  using Attachments = std::vector<std::shared_ptr<NSItemProvider>>;

  explicit NSExtensionItem(std::optional<Attachments> attachments)
      : attachments_(std::move(attachments)) {}

  const std::optional<Attachments>& attachments() const { return attachments_; }

 private:
  const std::optional<Attachments> attachments_;
};

// The running extension request.
class NSExtensionContext {
 public:
  virtual ~NSExtensionContext() = default;

  // The shared input items in the order the sharing program gave them. Not
  // every one need be an NSExtensionItem.
  virtual const std::vector<std::shared_ptr<NSObject>>& inputItems() const = 0;

  // Ends the request. Called with an empty list and no completion handler; may
  // be called more than once and from any thread.
  virtual void completeRequestReturningItems(const std::vector<std::shared_ptr<NSObject>>& items) = 0;
};

}  // namespace platform
