#include "platform/linux/base/file_tree.h"

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform::linux_platform {

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string joined(dir);
  if (joined.empty() || joined.back() != '/') joined += '/';
  joined += name;
  return joined;
}

StatusOr<DirectoryAndName> SplitPath(const std::string& path) {
  DirectoryAndName result;
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) {
    result.directory.assign(1, '.');  // GCC 12 misreads an assignment from "." here
    result.name = trimmed;
  } else {
    result.directory = trimmed.substr(0, slash == 0 ? 1 : slash);
    result.name = trimmed.substr(slash + 1);
  }
  if (result.name.empty() || result.name == "." || result.name == "..") {
    return Status::InvalidArgument("not a name a file can have: " + path);
  }
  return result;
}

StatusOr<ParentAndName> OpenParent(const std::string& path) {
  StatusOr<DirectoryAndName> split = SplitPath(path);
  if (!split.ok()) return split.status();
  ParentAndName result;
  result.name = std::move(split->name);
  result.parent = UniqueFd(::open(split->directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!result.parent.valid()) return ErrnoStatus("cannot open folder", split->directory, errno);
  return result;
}

StatusOr<std::vector<std::string>> ListDirectory(int dirFd, const std::string& path) {
  // fdopendir takes over the descriptor it is given, so hand it a copy.
  const int copy = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return ErrnoStatus("cannot read folder", path, errno);
  DIR* stream = ::fdopendir(copy);
  if (stream == nullptr) {
    const int err = errno;
    ::close(copy);
    return ErrnoStatus("cannot read folder", path, err);
  }
  ::rewinddir(stream);
  std::vector<std::string> names;
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
  if (err != 0) return ErrnoStatus("cannot read folder", path, err);
  return names;
}

namespace {

Status RemoveAt(int dirFd, const std::string& name, const std::string& path, int depth) {
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return ErrnoStatus("cannot remove", path, errno);
  }
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(dirFd, name.c_str(), 0) != 0) {
      return ErrnoStatus("cannot remove", path, errno);
    }
    return Status::OK();
  }
  if (depth >= kMaxTreeDepth) {
    return Status::NotSupported("cannot remove " + path + ": the folder tree is too deep");
  }
  UniqueFd dir(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.valid()) return ErrnoStatus("cannot open folder", path, errno);
  StatusOr<std::vector<std::string>> names = ListDirectory(dir.get(), path);
  if (!names.ok()) return names.status();
  for (const std::string& child : *names) {
    if (Status removed = RemoveAt(dir.get(), child, JoinPath(path, child), depth + 1);
        !removed.ok()) {
      return removed;
    }
  }
  dir.reset();
  if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) {
    return ErrnoStatus("cannot remove folder", path, errno);
  }
  return Status::OK();
}

}  // namespace

Status RemoveTreeAt(int dirFd, const std::string& name, const std::string& path) {
  return RemoveAt(dirFd, name, path, 0);
}

}  // namespace platform::linux_platform
