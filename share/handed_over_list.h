#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/extension.h"

namespace halvernsignet_mobile_Share {

// The kind an attachment is loaded as: the first of image, text, file URL,
// URL, movie that it offers (the walk's order), or none.
enum class AttachmentKind { image, text, fileURL, url, movie };
std::optional<AttachmentKind> KindOfAttachment(const platform::NSItemProvider& attachment);

// Which of the two collected lists a handoff writes.
enum class PayloadKind { textList, mediaList };

// The list the share of `item` will hand over: the one of its last
// attachment's kind. None when there is no attachment, or the last is of no
// kind (then nothing is ever handed over).
std::optional<PayloadKind> ListHandedOver(const platform::NSExtensionItem& item);

// The positions of the attachments whose loads the share copies into the
// container: photos, files and movies, and only when the media list is the
// one handed over (otherwise they would be left out for their kind, and
// their copies named by nothing).
std::vector<std::int64_t> AttachmentsCopied(const platform::NSExtensionItem& item);

}  // namespace halvernsignet_mobile_Share
