#pragma once

#include <cstddef>
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
