#include "platform/linux/files/file_copier.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/files/copy_progress.h"
#include "platform/linux/base/file_tree.h"
#include "platform/linux/base/file_writing.h"
#include "platform/linux/files/file_data_copy.h"
#include "platform/linux/base/proc_fields.h"
#include "platform/linux/base/unique_fd.h"

namespace platform::linux_platform {

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens the entry that `expected` describes (relative to `dir`) and checks it
// is still that file, of the same kind. O_NONBLOCK: should the entry have
// turned into a pipe since it was looked at, opening it must not wait for a
// writer.
Status OpenSameFile(int dir, const std::string& name, int extraFlags, const struct stat& expected,
                    const std::string& path, UniqueFd& file, struct stat& opened) {
  const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | extraFlags |
                    (S_ISDIR(expected.st_mode) ? O_DIRECTORY : 0);
  file = UniqueFd(::openat(dir, name.c_str(), flags));
  if (!file.valid()) return ErrnoStatus("cannot open", path, errno);
  if (::fstat(file.get(), &opened) != 0) return ErrnoStatus("cannot read", path, errno);
  if (!SameFile(expected, opened) || (opened.st_mode & S_IFMT) != (expected.st_mode & S_IFMT)) {
    return Status::IOError(path + " changed while it was being copied");
  }
  return Status::OK();
}

const char* KindOfSpecialFile(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "not a regular file";
}

Status SpecialFileError(const std::string& path, mode_t mode) {
  return Status::NotSupported(path + " is " + KindOfSpecialFile(mode) +
                       "; only files, folders and links can be copied");
}
// The process's umask, read once: the program never changes it, and umask(2)
// cannot read it without setting it, which would race with other threads.
// All bits when it cannot be read, so that permissions are then always set.
mode_t ProcessUmask() {
  static const mode_t mask = [] {
    const std::optional<std::string> status = ReadProcFile("/proc/self/status");
    const std::optional<std::uint64_t> umask = status ? ProcFieldNumber(*status, "Umask", 8) : std::nullopt;
    return umask ? static_cast<mode_t>(*umask & 0777) : mode_t{0777};
  }();
  return mask;
}

// Fills the new, empty file open as `out` with the data of the regular file
// `src` and gives it the source's permissions where the umask took some away.
Status FillCopy(int src, const struct stat& st, const std::string& srcPath, int out, const std::string& dstPath,
                CopyProgress* progress) {
  if (Status copied = CopyOpenedFileData(src, st, out, srcPath, progress, true); !copied.ok()) return copied;
  const mode_t permissions = st.st_mode & 0777;
  if ((permissions & ProcessUmask()) != 0 && ::fchmod(out, permissions) != 0) {
    return ErrnoStatus("cannot set the permissions of", dstPath, errno);
  }
  if (progress != nullptr) progress->fileCopied();
  return Status::OK();
}

// Errors of an O_TMPFILE open that mean this file system (or kernel) makes
// no unnamed files; the copy is then named from the start.
bool UnnamedFileUnsupported(int err) { return err == EOPNOTSUPP || err == EISDIR || err == EINVAL; }

// Makes an unnamed file in `dir` and fills it from the open regular file
// `src`, described by `st`. OK with `copy.file` left closed when the file
// system makes no unnamed files; on a failure, closing it frees what was
// written.
Status CopyToUnnamed(int src, const struct stat& st, const std::string& srcPath, int dir,
                     const std::string& dstPath, CopyProgress* progress, UnnamedCopy& copy) {
  copy.source = st;
  copy.file = UniqueFd(::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, st.st_mode & 0777));
  if (!copy.file.valid()) {
    if (UnnamedFileUnsupported(errno)) return Status::OK();
    return ErrnoStatus("cannot create", dstPath, errno);
  }
  Status filled = FillCopy(src, st, srcPath, copy.file.get(), dstPath, progress);
  if (filled.ok() && ::fstat(copy.file.get(), &copy.copy) != 0) {
    filled = ErrnoStatus("cannot read the copy of", srcPath, errno);
  }
  if (!filled.ok()) copy.file.reset();
  return filled;
}

// Opens the file or folder at `srcPath` (a link there followed) for copying,
// checked to be still the one looked at. Named pipes, sockets and devices
// are refused before anything opens them.
Status OpenSource(const std::string& srcPath, UniqueFd& src, struct stat& opened) {
  struct stat st {};
  if (::stat(srcPath.c_str(), &st) != 0) return ErrnoStatus("cannot read", srcPath, errno);
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return SpecialFileError(srcPath, st.st_mode);
  return OpenSameFile(AT_FDCWD, srcPath, 0, st, srcPath, src, opened);
}

class TreeCopier {
 public:
  // `realTop`: the real path of the folder being copied (links inside are
  // judged against it); empty when a file is copied.
  TreeCopier(CopyProgress* progress, CopiedItems* copied, std::string realTop)
      : progress_(progress), copied_(copied), realTop_(std::move(realTop)) {}

  // `src` is open; `st` describes it (a regular file or a directory);
  // `realPath` is its real path, inside the tree.
  Status copyOpened(UniqueFd src, const struct stat& st, const std::string& srcPath, const std::string& realPath,
                    int dstDir, const std::string& dstName, const std::string& dstPath, int depth) {
    if (S_ISDIR(st.st_mode)) return copyDirectory(src.get(), st, srcPath, realPath, dstDir, dstName, dstPath, depth);
    return copyFile(src.get(), st, srcPath, dstDir, dstName, dstPath);
  }

 private:
  void recordCreated(const std::string& path) {
    copied_->paths.push_back(path);
  }

  Status copyFile(int src, const struct stat& st, const std::string& srcPath, int dstDir,
                  const std::string& dstName, const std::string& dstPath) {
    // Made with the source's permissions at once (inside the owner-only
    // container nobody else can reach it meanwhile).
    UniqueFd out(::openat(dstDir, dstName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          st.st_mode & 0777));
    if (!out.valid()) return ErrnoStatus("cannot create", dstPath, errno);
    recordCreated(dstPath);
    if (Status filled = FillCopy(src, st, srcPath, out.get(), dstPath, progress_); !filled.ok()) return filled;
    if (Status closed = CloseChecked(out, dstPath); !closed.ok()) return closed;
    copied_->bytes += static_cast<std::uint64_t>(st.st_size);
    return Status::OK();
  }

  Status copyDirectory(int src, const struct stat& st, const std::string& srcPath, const std::string& realPath,
                       int dstDir, const std::string& dstName, const std::string& dstPath, int depth) {
    if (depth >= kMaxTreeDepth) {
      return Status::NotSupported("cannot copy " + srcPath + ": the folder tree is too deep");
    }
    // Owner-only while it fills; the source's permissions are set at the end,
    // so a read-only source folder still gets its contents.
    if (::mkdirat(dstDir, dstName.c_str(), 0700) != 0) {
      return ErrnoStatus("cannot create folder", dstPath, errno);
    }
    recordCreated(dstPath);
    UniqueFd dst(::openat(dstDir, dstName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dst.valid()) return ErrnoStatus("cannot open folder", dstPath, errno);

    StatusOr<std::vector<std::string>> names = ListDirectory(src, srcPath);
    if (!names.ok()) return names.status();
    for (const std::string& name : *names) {
      const std::string childSrc = JoinPath(srcPath, name);
      const std::string childDst = JoinPath(dstPath, name);
      if (Status copied = copyEntry(src, name, childSrc, realPath, dst.get(), childDst, depth + 1);
          !copied.ok()) {
        return copied;
      }
    }
    if (::fchmod(dst.get(), st.st_mode & 0777) != 0) {
      return ErrnoStatus("cannot set the permissions of", dstPath, errno);
    }
    return Status::OK();
  }

  // One entry inside a tree: links are copied as links, never followed.
  Status copyEntry(int srcDir, const std::string& name, const std::string& srcPath, const std::string& realDir,
                   int dstDir, const std::string& dstPath, int depth) {
    struct stat st {};
    if (::fstatat(srcDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return ErrnoStatus("cannot read", srcPath, errno);
    }
    if (S_ISLNK(st.st_mode)) return copyLink(srcDir, name, srcPath, realDir, dstDir, dstPath);
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return SpecialFileError(srcPath, st.st_mode);

    UniqueFd src;
    struct stat opened {};
    if (Status status = OpenSameFile(srcDir, name, O_NOFOLLOW, st, srcPath, src, opened); !status.ok()) {
      return status;
    }
    return copyOpened(std::move(src), opened, srcPath, JoinPath(realDir, name), dstDir, name, dstPath, depth);
  }

  Status copyLink(int srcDir, const std::string& name, const std::string& srcPath, const std::string& realDir,
                  int dstDir, const std::string& dstPath) {
    const std::optional<std::string> target = ReadLinkAt(srcDir, name);
    if (!target) return ErrnoStatus("cannot read link", srcPath, errno);
    // Copied, a link that leads out of the folder would lead out of the
    // container, where a reader following it should never be sent.
    if (realTop_.empty() || LinkLeadsOutOf(realDir, *target, realTop_)) {
      copied_->linksLeftOut.push_back({srcPath, *target});
      return Status::OK();
    }
    if (::symlinkat(target->c_str(), dstDir, name.c_str()) != 0) {
      return ErrnoStatus("cannot create link", dstPath, errno);
    }
    recordCreated(dstPath);
    return Status::OK();
  }

  CopyProgress* progress_;
  CopiedItems* copied_;
  const std::string realTop_;
};

// Whether the directory open as `dirFd`, or any directory above it, is the
// one described by `target`. Walks the real ".." entries, so links and
// relative paths in the way cannot hide a folder being copied into itself.
bool LiesWithin(int dirFd, const struct stat& target) {
  UniqueFd current(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
  // Far more levels than any path can have; only a file system lying about
  // its root could get there.
  for (int level = 0; current.valid() && level < 4096; ++level) {
    struct stat here {};
    if (::fstat(current.get(), &here) != 0) return false;
    if (SameFile(here, target)) return true;
    UniqueFd up(::openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!up.valid()) return false;
    struct stat above {};
    if (::fstat(up.get(), &above) != 0 || SameFile(above, here)) return false;  // The root.
    current = std::move(up);
  }
  return false;
}

// Keeps the progress line's count of running copies right on every path out.
class ProgressScope {
 public:
  explicit ProgressScope(CopyProgress* progress) : progress_(progress) {
    if (progress_ != nullptr) progress_->copyStarted();
  }
  ~ProgressScope() {
    if (progress_ != nullptr) progress_->copyFinished();
  }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

 private:
  CopyProgress* progress_;
};

}  // namespace

StatusOr<UnnamedCopy> CopyFileToUnnamed(const std::string& srcPath, int dir, const std::string& dstPath,
                                        CopyProgress* progress, std::uint64_t maxBytes) {
  UniqueFd src;
  struct stat opened {};
  if (Status opening = OpenSource(srcPath, src, opened); !opening.ok()) return opening;
  if (S_ISDIR(opened.st_mode)) return Status::NotSupported(srcPath + " is a folder");
  if (static_cast<std::uint64_t>(opened.st_size) > maxBytes) return Status::NotSupported(srcPath + " is too large");
  ProgressScope scope(progress);
  UnnamedCopy copy;
  if (Status made = CopyToUnnamed(src.get(), opened, srcPath, dir, dstPath, progress, copy); !made.ok()) return made;
  if (!copy.file.valid()) return Status::NotSupported("no unnamed files where " + dstPath + " is");
  return copy;
}

Status CopyItem(const std::string& srcPath, const CopyTarget& dst, CopyProgress* progress,
                CopiedItems* copied, const std::function<void()>& beforeCreating) {
  UniqueFd src;
  struct stat opened {};
  if (Status opening = OpenSource(srcPath, src, opened); !opening.ok()) return opening;
  if (S_ISDIR(opened.st_mode) && LiesWithin(dst.dir, opened)) {
    return Status::InvalidArgument("cannot copy folder " + srcPath + " into itself (" + dst.path + ")");
  }

  ProgressScope scope(progress);
  if (dst.unnamed != nullptr && S_ISREG(opened.st_mode)) {
    // Nothing gets the target's name, so whatever is there stays out of it.
    if (Status made = CopyToUnnamed(src.get(), opened, srcPath, dst.dir, dst.path, progress, *dst.unnamed);
        !made.ok()) {
      return made;
    }
    if (dst.unnamed->file.valid()) {
      if (copied != nullptr) copied->bytes += static_cast<std::uint64_t>(opened.st_size);
      return Status::OK();
    }
  }

  // Checked before `beforeCreating` claims the name.
  struct stat existing {};
  if (::fstatat(dst.dir, dst.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    if (SameFile(existing, opened)) {
      return Status::InvalidArgument("cannot copy " + srcPath + " onto itself");
    }
    return ErrnoStatus("cannot create", dst.path, EEXIST);
  }
  if (beforeCreating) beforeCreating();
  // The folder's real path, as the links inside are judged against it.
  std::string realTop;
  if (S_ISDIR(opened.st_mode)) {
    char* real = ::realpath(srcPath.c_str(), nullptr);
    if (real == nullptr) return ErrnoStatus("cannot read", srcPath, errno);
    realTop = real;
    std::free(real);
  }
  CopiedItems made;
  TreeCopier copier(progress, &made, realTop);
  Status status = copier.copyOpened(std::move(src), opened, srcPath, realTop, dst.dir, dst.name, dst.path, 0);
  if (!status.ok()) {
    // Only remove what this copy made: an O_EXCL file or a fresh mkdir.
    if (!made.paths.empty()) (void)RemoveTreeAt(dst.dir, dst.name, dst.path);
    return status;
  }
  if (copied != nullptr) {
    copied->paths.insert(copied->paths.end(), made.paths.begin(), made.paths.end());
    copied->bytes += made.bytes;
    copied->linksLeftOut.insert(copied->linksLeftOut.end(), made.linksLeftOut.begin(), made.linksLeftOut.end());
  }
  return Status::OK();
}

}  // namespace platform::linux_platform
