#pragma once

#include <string>
#include <string_view>

#include "platform/url.h"

namespace halvernsignet_mobile_Share {

// How a person recognises an attachment in a message about it, on one line.

// A shared file by its name; a link by its whole text. Control characters
// are shown as blanks.
std::string ItemNameOfURL(const platform::URL& url);

// A text by its start, in double quotes: at most 40 characters, line breaks
// and other control characters shown as blanks, "..." when it goes on.
std::string ItemNameOfText(std::string_view text);

}  // namespace halvernsignet_mobile_Share
