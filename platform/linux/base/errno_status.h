#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace platform::linux_platform {

// "<what> <path>: <system's text for err>", e.g.
// "cannot open /a/b: No such file or directory".
std::string ErrnoMessage(std::string_view what, std::string_view path, int err);

// The failure of a system call on `path`: the code of `err` with the message
// ErrnoMessage gives.
inline Status ErrnoStatus(std::string_view what, std::string_view path, int err) {
  return Status::FromErrno(err, ErrnoMessage(what, path, err));
}

}  // namespace platform::linux_platform
