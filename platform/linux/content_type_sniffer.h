#pragma once

#include <string>
#include <string_view>

namespace platform::linux_platform {

// The uniform type identifier for a file's content, guessed by GIO from its
// name and first bytes (shared-mime-info); a symbolic link is followed.
// "public.data" when nothing more precise is known, also for a path that
// cannot be examined.
std::string TypeIdentifierForPath(const std::string& path);

// The identifier for a MIME type as shared-mime-info names it.
std::string TypeIdentifierForMIMEType(std::string_view mimeType);

}  // namespace platform::linux_platform
