#include "platform/linux/file_writing.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/errno_status.h"
#include "platform/linux/file_tree.h"

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

Status WriteFileAtomically(const std::string& path, std::string_view bytes, const AtomicWriteOptions& options) {
  StatusOr<ParentAndName> opened = OpenParent(path);
  if (!opened.ok()) return opened.status();
  const ParentAndName& target = *opened;
  const int dir = target.parent.get();

  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string temporary = JoinPath(directory, "." + target.name.substr(0, 200) + ".XXXXXX");
  UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd.valid()) return ErrnoStatus("cannot create a file beside", path, errno);
  const std::string temporaryName = temporary.substr(temporary.rfind('/') + 1);

  const auto fail = [&](Status failure) {
    fd.reset();
    (void)::unlinkat(dir, temporaryName.c_str(), 0);  // The failure is what the caller needs to hear.
    return failure;
  };
  if (Status written = WriteAll(fd.get(), bytes, "cannot write", path); !written.ok()) return fail(written);
  if (options.mode) {
    if (::fchmod(fd.get(), *options.mode) != 0) {
      return fail(ErrnoStatus("cannot set the permissions of", path, errno));
    }
  } else {
    // A file written over keeps its permissions; a new one stays owner-only.
    struct stat previous {};
    if (::fstatat(dir, target.name.c_str(), &previous, 0) == 0 && S_ISREG(previous.st_mode)) {
      (void)::fchmod(fd.get(), previous.st_mode & 07777);  // Owner-only is the safe side of a failure.
    }
  }
  // The data reaches the disk before the name does.
  if (::fsync(fd.get()) != 0) return fail(ErrnoStatus("cannot write", path, errno));
  if (Status closed = CloseChecked(fd, path); !closed.ok()) return fail(closed);
  if (::renameat(dir, temporaryName.c_str(), dir, target.name.c_str()) != 0) {
    return fail(ErrnoStatus("cannot move the new contents into", path, errno));
  }
  // The rename is only durable once the directory entry is.
  if (options.syncDirectory && ::fsync(dir) != 0) return ErrnoStatus("cannot write to disk", directory, errno);
  return Status::OK();
}

}  // namespace platform::linux_platform
