#include "platform/status.h"

#include <cerrno>

namespace platform {

Status Status::FromErrno(int err, std::string message) {
  switch (err) {
    case ENOENT:
      return NotFound(std::move(message));
    case EEXIST:
    case ENOTEMPTY:
      return AlreadyExists(std::move(message));
    case EACCES:
    case EPERM:
      return PermissionDenied(std::move(message));
    case EINVAL:
    case ENAMETOOLONG:
    case ELOOP:
    case ENOTDIR:
    case EISDIR:
      return InvalidArgument(std::move(message));
    case ENOSYS:
    case EOPNOTSUPP:
    case EXDEV:
      return NotSupported(std::move(message));
    default:
      return IOError(std::move(message));
  }
}

}  // namespace platform
