// Completions of text and link loads: one string each for the text list.
#include <variant>

#include "share/item_names.h"
#include "share/share_view_controller.h"

namespace halvernsignet_mobile_Share {

void ShareViewController::onTextItem(LoadedItem item, LoadError error, const WeakRef& controller,
                                     std::int64_t index, const ItemRef& extensionItem) {
  onTextOrLinkItem(false, std::move(item), std::move(error), controller, index, extensionItem);
}

void ShareViewController::onLinkItem(LoadedItem item, LoadError error, const WeakRef& controller,
                                     std::int64_t index, const ItemRef& extensionItem) {
  onTextOrLinkItem(true, std::move(item), std::move(error), controller, index, extensionItem);
}

void ShareViewController::onTextOrLinkItem(bool isLink, LoadedItem item, LoadError error,
                                           const WeakRef& controller, std::int64_t index,
                                           const ItemRef& extensionItem) {
  // No conversion is tried: a text load must give a string, a link load a URL.
  const bool delivered = !error && item &&
                         (isLink ? std::holds_alternative<platform::URL>(*item)
                                 : std::holds_alternative<std::string>(*item));
  if (!delivered) {
    failurePath(controller);
    return;
  }
  auto self = controller.lock();
  if (!self) return;

  if (isLink) {
    const platform::URL& link = std::get<platform::URL>(*item);
    self->appendText(link.absoluteString(), index, ItemNameOfURL(link));
  } else {
    std::string& text = std::get<std::string>(*item);
    std::string name = ItemNameOfText(text);
    self->appendText(std::move(text), index, std::move(name));
  }
  self->storePayload(extensionItem, index, PayloadKind::textList, RedirectType::text);
}

}  // namespace halvernsignet_mobile_Share
