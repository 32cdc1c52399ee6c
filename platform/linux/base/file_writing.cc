#include "platform/linux/base/file_writing.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/base/errno_status.h"

namespace platform::linux_platform {
Status WriteAll(int fd, std::string_view bytes, std::string_view what, std::string_view path) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus(what, path, errno);
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return Status::OK();
}

Status CloseChecked(UniqueFd& fd, std::string_view path) {
  // Linux frees the descriptor even when close is interrupted; retrying
  // could close one another thread has just opened.
  if (::close(fd.release()) != 0 && errno != EINTR) return ErrnoStatus("cannot write", path, errno);
  return Status::OK();
}

int LinkUnnamedFile(int file, int dir, const std::string& name) {
  // Linked straight from the open file where the kernel lets this process:
  // Linux 6.10 on, for the process that opened it; before that, only with
  // CAP_DAC_READ_SEARCH. That saves a path walk through /proc per file.
  static std::atomic<bool> direct{true};
  if (direct.load(std::memory_order_relaxed)) {
    if (::linkat(file, "", dir, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT && errno != EPERM && errno != EINVAL) return -1;
    direct.store(false, std::memory_order_relaxed);
  }
  // The /proc link to an open file may be followed by its owner.
  const std::string link = "/proc/self/fd/" + std::to_string(file);
  return ::linkat(AT_FDCWD, link.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW);
}

bool UnnamedFilesUsable() {
  static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
  return usable;
}

}  // namespace platform::linux_platform
