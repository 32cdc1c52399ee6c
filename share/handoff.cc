// How a share ends: the payload stored for the host application and the host
// opened through its URL scheme, or the error alert.
#include "platform/alert.h"
#include "platform/responder.h"
#include "share/share_view_controller.h"

namespace halvernsignet_mobile_Share {

void ShareViewController::storePayload(const ItemRef& extensionItem, std::int64_t index, PayloadKind payload,
                                       RedirectType redirect) {
  // Only the completion of the attachment at the last position hands over.
  const auto& attachments = extensionItem->attachments();
  const std::int64_t count = attachments ? static_cast<std::int64_t>(attachments->size()) : 0;
  if (index != count - 1) return;

  // The host application reads whatever the suite holds once it is opened.
  // Opened after a payload that was not stored, it would take the previous
  // share's payload for this one; so it is opened only after a store.
  const std::string group = appGroupIdentifier();
  auto defaults = services_.userDefaults->initWithSuiteName(group);
  if (!defaults) {
    failHandoff("the settings suite " + group + " cannot be opened");
    return;
  }
  // The files the new payload names: once the suite holds it, only these of
  // the run's new copies stay.
  std::vector<std::string> named;
  std::int64_t entries = 0;
  if (payload == PayloadKind::textList) {
    std::vector<std::string> texts = sharedText();
    entries = static_cast<std::int64_t>(texts.size());
    defaults->setObject(std::move(texts), sharedKey);
  } else {
    std::vector<std::shared_ptr<SharedMediaFile>> media;
    {
      std::lock_guard lock(listsMutex_);
      media = sharedMedia_;
      for (const auto& files : sharedMediaFiles_) named.insert(named.end(), files.begin(), files.end());
    }
    entries = static_cast<std::int64_t>(media.size());
    auto bytes = encodeMediaList(media);
    if (!bytes) {
      // A list that cannot be written as JSON is never stored in part; the
      // request still ends, with the error alert.
      failAndDismiss();
      return;
    }
    // The copies and thumbnails the list names reach the disk before the
    // suite that names them. A failed flush still hands over: the copies
    // are complete under their names, only not yet known to be durable.
    (void)services_.fileManager->synchronizeWrittenItems();
    defaults->setObject(std::move(*bytes), sharedKey);
  }
  {
    // Set before the suite is written: a write that fails late (its folder
    // not flushed) may still leave the suite holding this payload.
    std::lock_guard lock(listsMutex_);
    filesHandedOver_ = std::move(named);
    entriesHandedOver_ = entries;
  }
  if (!defaults->synchronize()) {
    const std::string why = defaults->synchronizeFailure();
    failHandoff("the settings suite " + group + " cannot be written" + (why.empty() ? "" : ": " + why));
    return;
  }
  reportEntriesNotHandedOver(payload, count);
  openHostApp(redirect);
}

void ShareViewController::failHandoff(const std::string& reason) {
  services_.outcomeReport->handoffFailed(reason);
  failAndDismiss();
}

void ShareViewController::reportLeftOut(const ItemRef& extensionItem, std::int64_t index, std::string itemName,
                                        std::string reason) {
  const auto& attachments = extensionItem->attachments();
  const std::int64_t count = attachments ? static_cast<std::int64_t>(attachments->size()) : 0;
  services_.outcomeReport->itemLeftOut({index, count, std::move(itemName), std::move(reason)});
}

void ShareViewController::reportEntriesNotHandedOver(PayloadKind handedOver, std::int64_t count) {
  // The handoff writes one of the two lists: the one of the last
  // attachment's kind. Entries of the other were collected for nothing.
  const std::string reason = handedOver == PayloadKind::textList
                                 ? "the last attachment is a text or link, and only texts and links were handed over"
                                 : "the last attachment is a photo, movie or file, and only those were handed over";
  std::vector<CollectedEntry> notHandedOver;
  {
    std::lock_guard lock(listsMutex_);
    for (const CollectedEntry& entry : collected_) {
      if (entry.list != handedOver) notHandedOver.push_back(entry);
    }
  }
  for (CollectedEntry& entry : notHandedOver) {
    services_.outcomeReport->itemLeftOut({entry.index, count, std::move(entry.itemName), reason});
  }
}

void ShareViewController::openHostApp(RedirectType redirect) {
  const std::string text = shareProtocol + "://dataUrl=" + sharedKey + "#" + std::string(TextForm(redirect));
  const std::optional<platform::URL> url = platform::URL::URLWithString(text);

  // Every responder of the chain that opens URLs is sent the URL, nearest first.
  for (platform::UIResponder* responder = this; responder != nullptr; responder = responder->nextResponder()) {
    if (responder->respondsToSelector(platform::kOpenURLSelector)) {
      responder->performSelector(platform::kOpenURLSelector, url);
    }
  }
  if (auto* context = extensionContext()) context->completeRequestReturningItems({});
}

void ShareViewController::failurePath(const WeakRef& controller) {
  if (auto self = controller.lock()) self->failAndDismiss();
}

void ShareViewController::failAndDismiss() {
  services_.standardOutput->writeLine("[ERROR] Error loading data!");

  auto alert = platform::UIAlertController::alertControllerWithTitle("Error", "Error loading data",
                                                                     platform::UIAlertControllerStyle::alert);
  auto self = shared_from_this();
  alert->addAction(platform::UIAlertAction::actionWithTitle(
      "Error", platform::UIAlertActionStyle::cancel,
      [self](const platform::UIAlertAction&) { self->dismissViewControllerAnimated(true, nullptr); }));
  presentViewController(alert, true, nullptr);

  // The request ends at once, without waiting for the person to pick the action.
  if (auto* context = extensionContext()) context->completeRequestReturningItems({});
}

}  // namespace halvernsignet_mobile_Share
