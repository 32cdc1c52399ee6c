#pragma once

#include <string>

namespace platform::linux_platform {

// The folder `path` is in: "." for a bare name, "/" for an item at the root.
inline std::string ParentPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace platform::linux_platform
