#include "share/handed_over_list.h"

#include <string>
#include <string_view>
#include <utility>

#include "platform/type_identifiers.h"

namespace halvernsignet_mobile_Share {
namespace {

bool IsMedia(AttachmentKind kind) {
  return kind == AttachmentKind::image || kind == AttachmentKind::fileURL || kind == AttachmentKind::movie;
}

}  // namespace

std::optional<AttachmentKind> KindOfAttachment(const platform::NSItemProvider& attachment) {
  static constexpr std::pair<std::string_view, AttachmentKind> kOrder[] = {
      {platform::kUTTypeImage, AttachmentKind::image}, {platform::kUTTypeText, AttachmentKind::text},
      {platform::kUTTypeFileURL, AttachmentKind::fileURL}, {platform::kUTTypeURL, AttachmentKind::url},
      {platform::kUTTypeMovie, AttachmentKind::movie},
  };
  for (const auto& [type, kind] : kOrder) {
    if (attachment.hasItemConformingToTypeIdentifier(std::string(type))) return kind;
  }
  return std::nullopt;
}

std::optional<PayloadKind> ListHandedOver(const platform::NSExtensionItem& item) {
  const auto& attachments = item.attachments();
  if (!attachments || attachments->empty() || !attachments->back()) return std::nullopt;
  const std::optional<AttachmentKind> last = KindOfAttachment(*attachments->back());
  if (!last) return std::nullopt;
  return IsMedia(*last) ? PayloadKind::mediaList : PayloadKind::textList;
}

std::vector<std::int64_t> AttachmentsCopied(const platform::NSExtensionItem& item) {
  std::vector<std::int64_t> copied;
  if (ListHandedOver(item) != PayloadKind::mediaList) return copied;
  const auto& attachments = *item.attachments();
  for (std::size_t i = 0; i < attachments.size(); ++i) {
    if (!attachments[i]) continue;
    const std::optional<AttachmentKind> kind = KindOfAttachment(*attachments[i]);
    if (kind && IsMedia(*kind)) copied.push_back(static_cast<std::int64_t>(i));
  }
  return copied;
}

}  // namespace halvernsignet_mobile_Share
