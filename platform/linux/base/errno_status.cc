#include "platform/linux/base/errno_status.h"

#include <cstring>

namespace platform::linux_platform {
namespace {

std::string SystemText(int err) {
  const char* text = strerrordesc_np(err);
  return text != nullptr ? text : ("error " + std::to_string(err));
}

}  // namespace

std::string ErrnoMessage(std::string_view what, std::string_view path, int err) {
  std::string message(what);
  message += ' ';
  message += path;
  message += ": ";
  message += SystemText(err);
  return message;
}

Status ErrnoStatus(std::string_view what, int err) {
  return Status::FromErrno(err, std::string(what) + ": " + SystemText(err));
}

}  // namespace platform::linux_platform
