// Completions of image, movie and file loads: one algorithm for the three
// kinds, which differ only in the copy's name, the record and the redirect.
#include <variant>

#include "share/item_names.h"
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

  // Left out for its kind (the handoff writes the other list, or none): not
  // copied, so nothing is left in the container that no payload names.
  if (ListHandedOver(*extensionItem) != PayloadKind::mediaList) {
    self->noteMediaNotCopied(index, ItemNameOfURL(std::get<platform::URL>(*item)));
    self->storePayload(extensionItem, index, PayloadKind::mediaList,
                       kind == SharedMediaType::file ? RedirectType::file : RedirectType::media);
    return;
  }

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

  // An item that does not make it into the list is named to the person; the
  // share still goes on to the handoff.
  const std::string itemName = ItemNameOfURL(source);
  if (const platform::Status copied = self->copyItemIntoContainer(source, destination); !copied.ok()) {
    self->reportLeftOut(extensionItem, index, itemName, "it could not be copied: " + copied.message());
  } else if (kind != SharedMediaType::video) {
    self->appendMedia(
        std::make_shared<SharedMediaFile>(destination.absoluteString(), std::nullopt, std::nullopt, kind), index,
        itemName, {destination.path()});
  } else if (auto preview = self->previewOfMovieCopy(destination); preview.ok()) {
    std::vector<std::string> files = {destination.path()};
    const auto thumbnail = (*preview)->thumbnail ? platform::URL::URLWithString(*(*preview)->thumbnail) : std::nullopt;
    if (thumbnail) files.push_back(thumbnail->path());
    self->appendMedia(std::move(preview).value(), index, itemName, std::move(files));
  } else {
    // No payload names the copy: it goes when the share ends.
    self->reportLeftOut(extensionItem, index, itemName,
                        "no preview could be made: " + preview.status().message());
  }
  self->storePayload(extensionItem, index, PayloadKind::mediaList,
                     kind == SharedMediaType::file ? RedirectType::file : RedirectType::media);
}

}  // namespace halvernsignet_mobile_Share
