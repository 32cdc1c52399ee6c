#include "platform/linux/base/file_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace platform::linux_platform {

bool LiesAtOrBelow(std::string_view path, std::string_view top) {
  if (top == "/") return !path.empty() && path.front() == '/';
  return path == top || (path.size() > top.size() && path.substr(0, top.size()) == top && path[top.size()] == '/');
}

std::optional<std::string> ReadLinkAt(int dirFd, const std::string& name) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t length = ::readlinkat(dirFd, name.c_str(), target.data(), target.size());
    if (length < 0) return std::nullopt;
    if (static_cast<std::size_t>(length) < target.size()) {
      target.resize(static_cast<std::size_t>(length));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

namespace {

// Pushes the components of `target` so that the first is taken next.
void PushComponents(std::string_view target, std::vector<std::string>& pending) {
  std::vector<std::string> components;
  for (std::size_t start = 0; start <= target.size();) {
    std::size_t slash = target.find('/', start);
    if (slash == std::string_view::npos) slash = target.size();
    if (slash > start) components.emplace_back(target.substr(start, slash - start));
    start = slash + 1;
  }
  pending.insert(pending.end(), components.rbegin(), components.rend());
}

}  // namespace

bool LinkLeadsOutOf(const std::string& folder, std::string_view target, const std::string& top) {
  // As the kernel allows at most 40 links in one lookup; more is a loop.
  constexpr int kMaxLinks = 40;
  if (target.empty() || target.front() == '/') return true;
  std::vector<std::string> pending;
  PushComponents(target, pending);
  std::string current = folder;
  for (int links = 0; !pending.empty();) {
    const std::string component = std::move(pending.back());
    pending.pop_back();
    if (component == ".") continue;
    if (component == "..") {
      if (current == top) return true;
      current = current.substr(0, std::max<std::size_t>(current.rfind('/'), 1));
      if (!LiesAtOrBelow(current, top)) return true;
      continue;
    }
    const std::string next = JoinPath(current, component);
    struct stat st {};
    if (::lstat(next.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      std::optional<std::string> inner = ReadLinkAt(AT_FDCWD, next);
      if (!inner || ++links > kMaxLinks || inner->empty() || inner->front() == '/') return true;
      PushComponents(*inner, pending);
      continue;
    }
    current = next;
  }
  return !LiesAtOrBelow(current, top);
}

}  // namespace platform::linux_platform
