#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/unique_fd.h"
#include "platform/status.h"

// Small descriptor-relative helpers shared by the file manager and the copy
// engine. Working relative to an open parent directory keeps a rename or a
// link swapped in half-way through from sending an operation somewhere else.
namespace platform::linux_platform {

// How deep a directory tree may go before copying or removing it gives up;
// every level holds two descriptors open.
inline constexpr int kMaxTreeDepth = 128;

// "<what> <path>: <system's text for err>", e.g.
// "cannot open /a/b: No such file or directory".
std::string ErrnoMessage(std::string_view what, std::string_view path, int err);

// Writes all `size` bytes, going on after interrupted and short writes.
// False (with errno set) when the write fails.
bool WriteAll(int fd, const void* data, std::size_t size);

// A path split into its directory, opened, and the last component.
struct ParentAndName {
  UniqueFd parent;
  std::string name;
};

// Opens the directory holding `path` (which must name something other than
// "/", "." or ".."). On failure `status` says why.
ParentAndName OpenParent(const std::string& path, Status& status);

// Removes the file, link or directory tree called `name` in `dirFd`. Links are
// removed, never followed. `path` is only used in messages.
Status RemoveTreeAt(int dirFd, const std::string& name, const std::string& path);

// The names in the open directory `dirFd`, without "." and "..". The
// directory stream is closed before returning, so a deep walk holds only the
// directory descriptors themselves.
Status ListDirectory(int dirFd, const std::string& path, std::vector<std::string>& names);

// Joins a directory path and a name with exactly one "/".
std::string JoinPath(std::string_view dir, std::string_view name);

}  // namespace platform::linux_platform
