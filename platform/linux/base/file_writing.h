#pragma once

#include <string>
#include <string_view>

#include "platform/linux/base/unique_fd.h"
#include "platform/status.h"

// Writing files so that a failure is never silent.
namespace platform::linux_platform {

// Writes all of `bytes` to `fd`, going on after interrupted and short writes.
// A failure reads "<what> <path>: <reason>".
Status WriteAll(int fd, std::string_view bytes, std::string_view what, std::string_view path);

// Closes `fd` and says whether that worked: some file systems report a failed
// write only when the file is closed ("cannot write <path>: <reason>").
Status CloseChecked(UniqueFd& fd, std::string_view path);

// Gives the unnamed file (O_TMPFILE) open as `file` the name `name` in the
// open directory `dir`; fails with EEXIST when that name is taken. The file
// stays open. Returns 0 or -1 with errno set, as linkat does.
int LinkUnnamedFile(int file, int dir, const std::string& name);

// Whether unnamed files can be named by this process: linking one may go
// through /proc/self/fd, which must then be mounted.
bool UnnamedFilesUsable();

}  // namespace platform::linux_platform
