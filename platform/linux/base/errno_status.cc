#include "platform/linux/base/errno_status.h"

#include <cstring>

namespace platform::linux_platform {

std::string ErrnoMessage(std::string_view what, std::string_view path, int err) {
  const char* text = strerrordesc_np(err);
  std::string message(what);
  message += ' ';
  message += path;
  message += ": ";
  message += text != nullptr ? text : ("error " + std::to_string(err));
  return message;
}

}  // namespace platform::linux_platform
