#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/data.h"

namespace platform {

// Standard alphabet with "=" padding and no line breaks.
std::string Base64EncodedString(const Data& data);

// The bytes of `text` in the form Base64EncodedString writes, and only that
// form (standard alphabet, "=" padding, no line breaks or blanks); none when
// the text is anything else.
std::optional<Data> Base64DecodedData(std::string_view text);

}  // namespace platform
