#include "share/share_view_controller.h"

#include "halvernsignet_build_config.h"
#include "platform/type_identifiers.h"
#include "share/app_group.h"

namespace halvernsignet_mobile_Share {

ShareViewController::ShareViewController(PlatformServices services)
    : hostAppBundleIdentifier(build_config::kHostAppBundleIdentifier),
      shareProtocol("halvernsignet"),
      sharedKey(kSharedKey),
      imageContentType(platform::kUTTypeImage),
      videoContentType(platform::kUTTypeMovie),
      textContentType(platform::kUTTypeText),
      urlContentType(platform::kUTTypeURL),
      fileURLType(platform::kUTTypeFileURL),
      services_(std::move(services)) {}

std::shared_ptr<ShareViewController> ShareViewController::initWithNibName(
    const std::optional<std::string>& nibName, const std::optional<platform::NSBundle>& bundle,
    PlatformServices services) {
  std::shared_ptr<ShareViewController> controller(new ShareViewController(std::move(services)));
  controller->SLComposeServiceViewController::initWithNibName(nibName, bundle);
  return controller;
}

std::shared_ptr<ShareViewController> ShareViewController::initWithCoder(const platform::NSCoder& coder,
                                                                        PlatformServices services) {
  std::shared_ptr<ShareViewController> controller(new ShareViewController(std::move(services)));
  if (!controller->SLComposeServiceViewController::initWithCoder(coder)) return nullptr;
  return controller;
}

std::vector<std::shared_ptr<SharedMediaFile>> ShareViewController::sharedMedia() const {
  std::lock_guard lock(listsMutex_);
  return sharedMedia_;
}

std::vector<std::string> ShareViewController::sharedText() const {
  std::lock_guard lock(listsMutex_);
  return sharedText_;
}

void ShareViewController::appendText(std::string text, std::int64_t index, std::string itemName) {
  std::lock_guard lock(listsMutex_);
  sharedText_.push_back(std::move(text));
  collected_.push_back({PayloadKind::textList, index, std::move(itemName)});
}

void ShareViewController::appendMedia(std::shared_ptr<SharedMediaFile> record, std::int64_t index,
                                      std::string itemName, std::vector<std::string> files) {
  std::lock_guard lock(listsMutex_);
  sharedMedia_.push_back(std::move(record));
  sharedMediaFiles_.push_back(std::move(files));
  collected_.push_back({PayloadKind::mediaList, index, std::move(itemName)});
}

void ShareViewController::noteMediaNotCopied(std::int64_t index, std::string itemName) {
  std::lock_guard lock(listsMutex_);
  collected_.push_back({PayloadKind::mediaList, index, std::move(itemName)});
}

std::vector<std::string> ShareViewController::filesHandedOver() const {
  std::lock_guard lock(listsMutex_);
  return filesHandedOver_;
}

std::optional<std::int64_t> ShareViewController::entriesHandedOver() const {
  std::lock_guard lock(listsMutex_);
  return entriesHandedOver_;
}

std::string ShareViewController::appGroupIdentifier() const { return AppGroupIdentifierFor(hostAppBundleIdentifier); }

bool ShareViewController::isContentValid() { return true; }

void ShareViewController::viewDidLoad() { SLComposeServiceViewController::viewDidLoad(); }

void ShareViewController::didSelectPost() { services_.standardOutput->writeLine("didSelectPost"); }

std::vector<platform::SLComposeSheetConfigurationItem> ShareViewController::configurationItems() {
  return {};
}

void ShareViewController::viewDidAppear(bool animated) {
  SLComposeServiceViewController::viewDidAppear(animated);

  // Only the first input item is shared; without one (or without an
  // attachment list) there is nothing to load and nothing to hand over.
  platform::NSExtensionContext* context = extensionContext();
  if (context == nullptr || context->inputItems().empty()) return;
  const ItemRef item = std::dynamic_pointer_cast<platform::NSExtensionItem>(context->inputItems().front());
  if (!item || !item->attachments()) return;

  struct Load {
    const std::string& type;
    Completion* completion;
  };
  // What each kind is loaded as, and its completion (KindOfAttachment tests
  // the kinds in the walk's order; the first an attachment offers wins).
  const auto loadOf = [this](AttachmentKind kind) -> Load {
    switch (kind) {
      case AttachmentKind::image: return {imageContentType, &ShareViewController::onImageItem};
      case AttachmentKind::text: return {textContentType, &ShareViewController::onTextItem};
      case AttachmentKind::fileURL: return {fileURLType, &ShareViewController::onFileItem};
      case AttachmentKind::url: return {urlContentType, &ShareViewController::onLinkItem};
      case AttachmentKind::movie: break;
    }
    return {videoContentType, &ShareViewController::onVideoItem};
  };

  const WeakRef weakSelf = weak_from_this();
  const auto& attachments = *item->attachments();
  for (std::size_t position = 0; position < attachments.size(); ++position) {
    const auto& provider = attachments[position];
    const auto index = static_cast<std::int64_t>(position);
    const std::optional<AttachmentKind> kind = provider ? KindOfAttachment(*provider) : std::nullopt;
    if (!kind) {
      reportLeftOut(item, index, "", "it is none of the kinds a share hands over (photo, movie, file, text, link)");
      continue;
    }
    const Load load = loadOf(*kind);
    const Load* match = &load;
    provider->loadItemForTypeIdentifier(
        match->type, [weakSelf, index, item, completion = match->completion](
                         std::optional<platform::LoadedItem> loaded, std::optional<platform::NSError> error) {
          completion(std::move(loaded), std::move(error), weakSelf, index, item);
        });
  }
}

}  // namespace halvernsignet_mobile_Share
