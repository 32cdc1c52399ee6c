// Completions of image, movie and file loads: one algorithm for the three
// kinds, which differ only in the copy's name, the record and the redirect.
#include <variant>

#include "share/share_view_controller.h"

namespace halvernsignet_mobile_Share {

void ShareViewController::onImageItem(LoadedItem item, LoadError error, const WeakRef& controller,
                                      std::int64_t index, const ItemRef& extensionItem) {
  onMediaItem(SharedMediaType::image, std::move(item), std::move(error), controller, index, extensionItem);
}

void ShareViewController::onVideoItem(LoadedItem item, LoadError error, const WeakRef& controller,
                                      std::int64_t index, const ItemRef& extensionItem) {
  onMediaItem(SharedMediaType::video, std::move(item), std::move(error), controller, index, extensionItem);
}

void ShareViewController::onFileItem(LoadedItem item, LoadError error, const WeakRef& controller,
                                     std::int64_t index, const ItemRef& extensionItem) {
  onMediaItem(SharedMediaType::file, std::move(item), std::move(error), controller, index, extensionItem);
}

void ShareViewController::onMediaItem(SharedMediaType kind, LoadedItem item, LoadError error,
                                      const WeakRef& controller, std::int64_t index,
                                      const ItemRef& extensionItem) {
  // The error is tested before the item: an error that comes with an item fails.
  if (error || !item || !std::holds_alternative<platform::URL>(*item)) {
    failurePath(controller);
    return;
  }
  auto self = controller.lock();
  if (!self) return;

  const platform::URL& source = std::get<platform::URL>(*item);
  const std::string name = self->containerFileName(source, kind);
  const auto container =
      self->services_.fileManager->containerURLForSecurityApplicationGroupIdentifier(self->appGroupIdentifier());
  if (!container) {
    // Without the container nothing can be handed over: say so, and end.
    self->failAndDismiss();
    return;
  }
  const platform::URL destination = container->appendingPathComponent(name);

  if (self->copyIntoContainer(source, destination)) {
    if (kind == SharedMediaType::video) {
      // A movie whose preview cannot be made goes unrecorded, like a failed
      // copy, and the share still goes on to the handoff.
      if (auto record = self->makeVideoPreview(destination)) self->appendMedia(std::move(record));
    } else {
      self->appendMedia(
          std::make_shared<SharedMediaFile>(destination.absoluteString(), std::nullopt, std::nullopt, kind));
    }
  }
  self->storePayload(extensionItem, index, PayloadKind::mediaList,
                     kind == SharedMediaType::file ? RedirectType::file : RedirectType::media);
}

}  // namespace halvernsignet_mobile_Share
