#include "platform/linux/file_tree.h"

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform::linux_platform {

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::write(fd, bytes, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

std::string ErrnoMessage(std::string_view what, std::string_view path, int err) {
  const char* text = strerrordesc_np(err);
  std::string message(what);
  message += ' ';
  message += path;
  message += ": ";
  message += text != nullptr ? text : ("error " + std::to_string(err));
  return message;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string joined(dir);
  if (joined.empty() || joined.back() != '/') joined += '/';
  joined += name;
  return joined;
}

ParentAndName OpenParent(const std::string& path, Status& status) {
  ParentAndName result;
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.rfind('/');
  std::string dir;
  if (slash == std::string::npos) {
    dir = ".";
    result.name = trimmed;
  } else {
    dir = slash == 0 ? "/" : trimmed.substr(0, slash);
    result.name = trimmed.substr(slash + 1);
  }
  if (result.name.empty() || result.name == "." || result.name == "..") {
    status = Status::Error("not a name a file can have: " + path);
    return result;
  }
  result.parent = UniqueFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!result.parent.valid()) {
    status = Status::Error(ErrnoMessage("cannot open folder", dir, errno));
    return result;
  }
  status = Status::OK();
  return result;
}

Status ListDirectory(int dirFd, const std::string& path, std::vector<std::string>& names) {
  // fdopendir takes over the descriptor it is given, so hand it a copy.
  const int copy = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return Status::Error(ErrnoMessage("cannot read folder", path, errno));
  DIR* stream = ::fdopendir(copy);
  if (stream == nullptr) {
    const int err = errno;
    ::close(copy);
    return Status::Error(ErrnoMessage("cannot read folder", path, err));
  }
  ::rewinddir(stream);
  names.clear();
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(stream);
    if (entry == nullptr) break;
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
  const int err = errno;
  ::closedir(stream);
  if (err != 0) return Status::Error(ErrnoMessage("cannot read folder", path, err));
  return Status::OK();
}

namespace {

Status RemoveAt(int dirFd, const std::string& name, const std::string& path, int depth) {
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return Status::Error(ErrnoMessage("cannot remove", path, errno));
  }
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(dirFd, name.c_str(), 0) != 0) {
      return Status::Error(ErrnoMessage("cannot remove", path, errno));
    }
    return Status::OK();
  }
  if (depth >= kMaxTreeDepth) {
    return Status::Error("cannot remove " + path + ": the folder tree is too deep");
  }
  UniqueFd dir(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.valid()) return Status::Error(ErrnoMessage("cannot open folder", path, errno));
  std::vector<std::string> names;
  if (Status listed = ListDirectory(dir.get(), path, names); !listed.ok()) return listed;
  for (const std::string& child : names) {
    if (Status removed = RemoveAt(dir.get(), child, JoinPath(path, child), depth + 1);
        !removed.ok()) {
      return removed;
    }
  }
  dir.reset();
  if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) {
    return Status::Error(ErrnoMessage("cannot remove folder", path, errno));
  }
  return Status::OK();
}

}  // namespace

Status RemoveTreeAt(int dirFd, const std::string& name, const std::string& path) {
  return RemoveAt(dirFd, name, path, 0);
}

}  // namespace platform::linux_platform
