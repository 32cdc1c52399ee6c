#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/base/errno_status.h"
#include "platform/linux/base/unique_fd.h"
#include "platform/status.h"
#include "platform/status_or.h"

// Small descriptor-relative helpers shared by the file manager and the copy
// engine. Working relative to an open parent directory keeps a rename or a
// link swapped in half-way through from sending an operation somewhere else.
namespace platform::linux_platform {

// How deep a directory tree may go before copying or removing it gives up;
// every level holds two descriptors open.
inline constexpr int kMaxTreeDepth = 128;

// A path split into its directory, opened, and the last component.
struct ParentAndName {
  UniqueFd parent;
  std::string name;
};

// A path split into the directory that holds it and its last component.
struct DirectoryAndName {
  std::string directory;
  std::string name;
};

// Splits `path` (which must name something other than "/", "." or "..");
// trailing slashes are ignored.
StatusOr<DirectoryAndName> SplitPath(const std::string& path);

// Opens the directory holding `path` (which must name something other than
// "/", "." or "..").
StatusOr<ParentAndName> OpenParent(const std::string& path);

// Removes the file, link or directory tree called `name` in `dirFd`. Links are
// removed, never followed. `path` is only used in messages.
Status RemoveTreeAt(int dirFd, const std::string& name, const std::string& path);

// The names in the open directory `dirFd`, without "." and "..". The
// directory stream is closed before returning, so a deep walk holds only the
// directory descriptors themselves.
StatusOr<std::vector<std::string>> ListDirectory(int dirFd, const std::string& path);

// Joins a directory path and a name with exactly one "/".
std::string JoinPath(std::string_view dir, std::string_view name);

}  // namespace platform::linux_platform

namespace platform::linux_platform {

// Whether `path` is `top` or lies below it (both absolute, without "." or
// ".." components).
bool LiesAtOrBelow(std::string_view path, std::string_view top);

// The link target `target` of a link that sits in the folder `folder` (a
// real path: no link, "." or ".." in it) leads out of the folder `top` (a
// real path at or above `folder`): it is absolute, or resolving it, as the
// kernel would, one component at a time and following the links met on the
// way (at most 40), leaves `top`. Components that do not exist are taken as
// written. A link that stays inside may still lead nowhere.
bool LinkLeadsOutOf(const std::string& folder, std::string_view target, const std::string& top);

// The target of the link `name` in the open directory `dirFd`; none when it
// cannot be read.
std::optional<std::string> ReadLinkAt(int dirFd, const std::string& name);

}  // namespace platform::linux_platform
