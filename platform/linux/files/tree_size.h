#pragma once

#include <cstdint>
#include <string>

namespace platform::linux_platform {

// The bytes a copy of the file or folder at `path` will move: the size of a
// regular file, or the sizes of every regular file in a folder's tree (links
// inside not followed, unreadable parts counted as nothing). Counted before
// copying, so progress can be told against a known total.
std::uint64_t BytesToCopy(const std::string& path);

}  // namespace platform::linux_platform
