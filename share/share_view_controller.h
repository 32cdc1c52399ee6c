#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/av_foundation.h"
#include "platform/extension.h"
#include "platform/file_manager.h"
#include "platform/outcome_report.h"
#include "platform/standard_output.h"
#include "platform/status.h"
#include "platform/status_or.h"
#include "platform/url.h"
#include "platform/user_defaults.h"
#include "platform/uuid.h"
#include "platform/view_controller.h"
#include "share/handed_over_list.h"
#include "share/shared_media_file.h"

namespace halvernsignet_mobile_Share {

// The platform services the controller calls. Whoever starts the extension
// chooses the implementations (the real platform, or fakes in tests).
struct PlatformServices {
  std::shared_ptr<platform::NSFileManager> fileManager;
  std::shared_ptr<platform::NSUserDefaultsSuites> userDefaults;
  std::shared_ptr<platform::UUIDSource> uuids;
  std::shared_ptr<platform::AVFoundation> avFoundation;
  std::shared_ptr<platform::StandardOutput> standardOutput;
  std::shared_ptr<platform::OutcomeReport> outcomeReport;
};

// The share extension's one controller: sorts the attachments of the first
// shared item into five kinds, loads each, and hands what arrived to the host
// application. Always held by a shared_ptr; load completions hold it weakly.
class ShareViewController : public platform::SLComposeServiceViewController,
                            public std::enable_shared_from_this<ShareViewController> {
 public:
  using ItemRef = std::shared_ptr<platform::NSExtensionItem>;
  using WeakRef = std::weak_ptr<ShareViewController>;

  // The two initialisers; both give the same state (constants set, lists
  // empty). initWithCoder gives none for an archive that cannot be read.
  static std::shared_ptr<ShareViewController> initWithNibName(const std::optional<std::string>& nibName,
                                                              const std::optional<platform::NSBundle>& bundle,
                                                              PlatformServices services);
  static std::shared_ptr<ShareViewController> initWithCoder(const platform::NSCoder& coder,
                                                            PlatformServices services);

  // Build-time constants.
  const std::string hostAppBundleIdentifier;
  const std::string shareProtocol;
  const std::string sharedKey;
  const std::string imageContentType;
  const std::string videoContentType;
  const std::string textContentType;
  const std::string urlContentType;
  const std::string fileURLType;

  // The file-system paths of the files named by the payload last given to
  // the suite: each record's copy and thumbnail; empty for a text list or
  // before any handoff. Whoever runs the share keeps, of its new copies, only
  // these, and only when the suite took the payload.
  std::vector<std::string> filesHandedOver() const;
  // How many entries the payload last given to the suite holds; none before
  // any handoff.
  std::optional<std::int64_t> entriesHandedOver() const;

  // Snapshots of the collected lists (they only ever grow).
  std::vector<std::shared_ptr<SharedMediaFile>> sharedMedia() const;
  std::vector<std::string> sharedText() const;

  // "group." followed by the host application's bundle identifier.
  std::string appGroupIdentifier() const;

  // Compose-sheet operations.
  bool isContentValid() override;
  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;  // runs the attachment walk
  void didSelectPost() override;
  std::vector<platform::SLComposeSheetConfigurationItem> configurationItems() override;

  // Load completions, one per kind. Each gets what the load delivered and the
  // three values captured when the load started: (item, error, controller,
  // index, extensionItem).
  using LoadedItem = std::optional<platform::LoadedItem>;
  using LoadError = std::optional<platform::NSError>;
  using Completion = void(LoadedItem item, LoadError error, const WeakRef& controller, std::int64_t index,
                          const ItemRef& extensionItem);
  static Completion onTextItem;
  static Completion onLinkItem;
  static Completion onImageItem;
  static Completion onFileItem;
  static Completion onVideoItem;

  // The three ways a completion ends.
  void storePayload(const ItemRef& extensionItem, std::int64_t index, PayloadKind payload,
                    RedirectType redirect);
  void openHostApp(RedirectType redirect);
  void failAndDismiss();

  // Files in the container.
  std::string containerFileName(const platform::URL& source, SharedMediaType kind);
  // A movie copy's record: its thumbnail (made, or found already there) and
  // its duration; the reason when none can be made.
  platform::StatusOr<std::shared_ptr<SharedMediaFile>> previewOfMovieCopy(const platform::URL& movieCopy);

 private:
  explicit ShareViewController(PlatformServices services);

  static void onTextOrLinkItem(bool isLink, LoadedItem item, LoadError error, const WeakRef& controller,
                               std::int64_t index, const ItemRef& extensionItem);
  static void onMediaItem(SharedMediaType kind, LoadedItem item, LoadError error, const WeakRef& controller,
                          std::int64_t index, const ItemRef& extensionItem);
  // A completion's failure path: the error alert, if the controller still exists.
  static void failurePath(const WeakRef& controller);

  // Each append also notes which attachment the entry came from, so that a
  // handoff of the other list can name it as left out.
  void appendText(std::string text, std::int64_t index, std::string itemName);
  // `files`: the file-system paths of the record's copy and thumbnail.
  void appendMedia(std::shared_ptr<SharedMediaFile> record, std::int64_t index, std::string itemName,
                   std::vector<std::string> files);
  // An attachment of the media list that is not copied, since the handoff
  // writes the other list: named as left out when that one is handed over.
  void noteMediaNotCopied(std::int64_t index, std::string itemName);

  // Copies `source` to `destination` in the container; a failure is its
  // "Cannot copy item at ..." line, and its reason.
  platform::Status copyItemIntoContainer(const platform::URL& source, const platform::URL& destination);

  // Tells the person that the attachment at `index` of `extensionItem` was left out.
  void reportLeftOut(const ItemRef& extensionItem, std::int64_t index, std::string itemName, std::string reason);
  // Names every collected entry of the list that the handoff does not write.
  void reportEntriesNotHandedOver(PayloadKind handedOver, std::int64_t count);
  // The suite could not take the payload: the host application is not opened
  // (it would read the previous share's payload as this one's); error alert.
  void failHandoff(const std::string& reason);

  PlatformServices services_;

  // Completions may run on several threads at once; this keeps their appends
  // and the handoff's read of a list from interleaving.
  mutable std::mutex listsMutex_;
  std::vector<std::shared_ptr<SharedMediaFile>> sharedMedia_;
  std::vector<std::vector<std::string>> sharedMediaFiles_;  // beside each record, its files' paths
  std::vector<std::string> sharedText_;
  struct CollectedEntry {
    PayloadKind list;
    std::int64_t index;
    std::string itemName;
  };
  std::vector<CollectedEntry> collected_;
  std::vector<std::string> filesHandedOver_;
  std::optional<std::int64_t> entriesHandedOver_;
};

}  // namespace halvernsignet_mobile_Share
