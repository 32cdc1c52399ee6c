#pragma once

#include <string>

#include "platform/data.h"

namespace platform {

// Standard alphabet with "=" padding and no line breaks.
std::string Base64EncodedString(const Data& data);

}  // namespace platform
