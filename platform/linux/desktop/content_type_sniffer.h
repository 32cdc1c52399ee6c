#pragma once

#include <string>
#include <string_view>

namespace platform::linux_platform {

// The uniform type identifier for a file's content, guessed by GIO from its
// name and first bytes (shared-mime-info); a symbolic link is followed.
// "public.data" when nothing more precise is known, also for a path that
// cannot be examined. A movie only when its container is one the movie
// module reads (IsPreviewableMovieMIMEType): a movie of another kind, or data
// that merely looks like one, would be copied and then left out for want of
// a preview.
std::string TypeIdentifierForPath(const std::string& path);

// Whether the movie module can make a preview of a movie of this MIME type:
// the container formats FFmpeg demuxes that cameras, phones and the web use.
bool IsPreviewableMovieMIMEType(std::string_view mimeType);

// The identifier for a MIME type as shared-mime-info names it.
std::string TypeIdentifierForMIMEType(std::string_view mimeType);

}  // namespace platform::linux_platform
