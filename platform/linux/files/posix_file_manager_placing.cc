#include "platform/linux/files/posix_file_manager.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/files/file_copier.h"
#include "platform/linux/base/file_tree.h"
#include "platform/linux/base/file_writing.h"
#include "platform/linux/files/parent_path.h"
#include "platform/linux/files/run_journal.h"
#include "platform/linux/base/unique_fd.h"

// Copying items into place and replacing one item by another.

namespace platform::linux_platform {

namespace {

// A name no other writer in this directory will pick: the item's own name
// (shortened so the result stays a valid name), this process and a counter.
std::string AsideName(const std::string& name) {
  static std::atomic<unsigned> counter{0};
  unsigned random = 0;
  (void)::getrandom(&random, sizeof random, 0);
  return "." + name.substr(0, 200) + ".old-" + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1)) + "-" + std::to_string(random);
}

bool RenameFlagUnsupported(int err) { return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP; }

// The new item (fresh) and the place it goes to (original), each relative to
// its open directory.
struct Move {
  int freshDir;
  const std::string& freshName;
  const std::string& freshPath;
  int originalDir;
  const std::string& originalName;
  const std::string& originalPath;

  // Plain renameat without flags: it works where renameat2 does not exist.
  int renameTo(unsigned flags) const {
    if (flags == 0) return ::renameat(freshDir, freshName.c_str(), originalDir, originalName.c_str());
    return ::renameat2(freshDir, freshName.c_str(), originalDir, originalName.c_str(), flags);
  }
  Status failed(int err) const { return ErrnoStatus("cannot move " + freshPath + " to", originalPath, err); }
};

// Whether one way of putting the new item in place did it, or does not apply
// here and the next way is tried.
enum class Attempt { kDone, kNotApplicable };

// Nothing there yet: a rename that refuses to replace whatever appears meanwhile.
StatusOr<Attempt> RenameIntoEmptyPlace(const Move& move) {
  if (move.renameTo(RENAME_NOREPLACE) == 0) return Attempt::kDone;
  if (errno == EEXIST) return Attempt::kNotApplicable;
  if (!RenameFlagUnsupported(errno)) return move.failed(errno);
  struct stat st {};
  if (::fstatat(move.originalDir, move.originalName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
    if (move.renameTo(0) != 0) return move.failed(errno);
    return Attempt::kDone;
  }
  return Attempt::kNotApplicable;
}

// Something is there: swap the two in one step. The old item then sits under
// the new item's name, for the caller to remove.
StatusOr<Attempt> Exchange(const Move& move) {
  if (move.renameTo(RENAME_EXCHANGE) == 0) return Attempt::kDone;
  if (!RenameFlagUnsupported(errno)) return move.failed(errno);
  return Attempt::kNotApplicable;
}

// No exchange on this file system. rename(2) replaces a non-directory by a
// non-directory in one step.
StatusOr<Attempt> RenameOverFile(const Move& move, const struct stat& freshSt) {
  struct stat originalSt {};
  if (::fstatat(move.originalDir, move.originalName.c_str(), &originalSt, AT_SYMLINK_NOFOLLOW) != 0) {
    return ErrnoStatus("cannot read", move.originalPath, errno);
  }
  if (S_ISDIR(freshSt.st_mode) || S_ISDIR(originalSt.st_mode)) return Attempt::kNotApplicable;
  if (move.renameTo(0) != 0) return move.failed(errno);
  return Attempt::kDone;
}

// A directory on either side: move the original aside first, and back should
// the new item not go in. The name is briefly empty, but never half-replaced.
// The name the original now has, for the caller to remove.
StatusOr<std::string> MoveAsideThenIn(const Move& move, RunJournal* journal) {
  const std::string aside = AsideName(move.originalName);
  if (journal != nullptr) journal->willMoveAside(JoinPath(ParentPath(move.originalPath), aside), move.originalPath);
  if (::renameat(move.originalDir, move.originalName.c_str(), move.originalDir, aside.c_str()) != 0) {
    return move.failed(errno);
  }
  if (move.renameTo(0) != 0) {
    const int err = errno;
    // Putting the original back is all that can be done; the failure says why.
    (void)::renameat(move.originalDir, aside.c_str(), move.originalDir, move.originalName.c_str());
    return move.failed(err);
  }
  return aside;
}

// Any other URL names a file elsewhere, whatever its path says.
Status RequireLocalFileURLs(std::initializer_list<const URL*> urls) {
  for (const URL* url : urls) {
    if (!url->isLocalFileURL()) return Status::NotSupported("cannot copy " + url->absoluteString() + ": not a local file URL");
  }
  return Status::OK();
}

}  // namespace

Status PosixFileManager::copyTo(const URL& src, const std::string& dstPath, UnnamedCopy* unnamed) {
  StatusOr<Parent> parent = parentOf(dstPath);
  if (!parent.ok()) return parent.status();
  std::function<void()> beforeCreating;
  if (journal_) beforeCreating = [&] { journal_->willCreateTemporary(dstPath); };
  CopiedItems copied;
  Status status = CopyItem(src.path(), {parent->dir, parent->name, dstPath, unnamed}, progress_.get(), &copied,
                           beforeCreating);
  if (status.ok()) {
    record(copied.paths);
    unflushedBytes_ += copied.bytes;
    if (linkLeftOut_) {
      for (const LinkLeftOut& link : copied.linksLeftOut) linkLeftOut_(link.path, link.target);
    }
  }
  return status;
}

Status PosixFileManager::copyItemAtURL(const URL& src, const URL& dst) {
  if (Status local = RequireLocalFileURLs({&src, &dst}); !local.ok()) return local;
  return copyTo(src, dst.path(), nullptr);
}

Status PosixFileManager::copyItemIntoPlace(const URL& src, const URL& originalItemURL, const URL& temporaryURL) {
  Status status = placeCopy(src, originalItemURL, temporaryURL);
  if (status.ok() && copyAhead_ && copyAhead_->allTaken()) startEarlyFlush();
  return status;
}
Status PosixFileManager::placeCopy(const URL& src, const URL& originalItemURL, const URL& temporaryURL) {
  if (Status local = RequireLocalFileURLs({&src, &originalItemURL, &temporaryURL}); !local.ok()) return local;
  const std::string sourcePath = src.path();
  const std::string originalPath = originalItemURL.path();
  const std::string temporaryPath = temporaryURL.path();
  UnnamedCopy unnamed;
  if (std::optional<UnnamedCopy> ahead = takeCopyAhead(sourcePath, originalPath)) {
    unnamed = std::move(*ahead);
    unflushedBytes_ += static_cast<std::uint64_t>(unnamed.copy.st_size);
  } else if (Status copied = copyTo(src, temporaryPath, UnnamedFilesUsable() ? &unnamed : nullptr); !copied.ok()) {
    return copied;
  }
  if (unnamed.file.valid()) {
    StatusOr<Parent> original = parentOf(originalPath);
    if (!original.ok()) return original.status();
    if (journal_) journal_->willPlaceNewItem(originalPath, IdentityOf(unnamed.copy));
    if (LinkUnnamedFile(unnamed.file.get(), original->dir, original->name) == 0) {
      record({originalPath});
      return CloseChecked(unnamed.file, originalPath);
    }
    if (errno != EEXIST) return ErrnoStatus("cannot create", originalPath, errno);
    // The name is taken: the copy takes the temporary name, and replaces
    // what is there as any new item does.
    StatusOr<Parent> temporary = parentOf(temporaryPath);
    if (!temporary.ok()) return temporary.status();
    if (journal_) journal_->willCreateTemporary(temporaryPath);
    if (LinkUnnamedFile(unnamed.file.get(), temporary->dir, temporary->name) != 0) {
      return ErrnoStatus("cannot create", temporaryPath, errno);
    }
    if (Status closed = CloseChecked(unnamed.file, temporaryPath); !closed.ok()) return closed;
  }
  return replaceItemAtURL(originalItemURL, temporaryURL);
}

std::optional<UnnamedCopy> PosixFileManager::takeCopyAhead(const std::string& srcPath, const std::string& dstPath) {
  if (!copyAhead_ || !UnnamedFilesUsable()) return std::nullopt;
  StatusOr<DirectoryAndName> split = SplitPath(dstPath);
  if (!split.ok()) return std::nullopt;
  // A container's folder stays open for the run, as the copying needs.
  const int dir = containerDir(split->directory);
  if (dir < 0) return std::nullopt;
  return copyAhead_->take(srcPath, dir);
}

Status PosixFileManager::replaceItemAtURL(const URL& originalItemURL, const URL& newItemURL) {
  const std::string originalPath = originalItemURL.path();
  const std::string newPath = newItemURL.path();
  StatusOr<Parent> original = parentOf(originalPath);
  if (!original.ok()) return original.status();
  StatusOr<Parent> fresh = parentOf(newPath);
  if (!fresh.ok()) return fresh.status();
  const Move move{fresh->dir, fresh->name, newPath, original->dir, original->name, originalPath};

  struct stat freshSt {};
  if (::fstatat(move.freshDir, move.freshName.c_str(), &freshSt, AT_SYMLINK_NOFOLLOW) != 0) {
    return ErrnoStatus("cannot read", newPath, errno);
  }
  const auto moved = [&] {
    recordMove(newPath, originalPath);
    record({originalPath});
  };
  const auto nameEmptied = [&] {
    if (journal_) journal_->temporaryMoved(newPath);
  };
  const auto removeOld = [&](int dir, const std::string& name, const std::string& path) {
    Status removed = RemoveTreeAt(dir, name, path);
    if (removed.ok()) return removed;
    return removed.WithPrefix("replaced " + originalPath + ", but the old item stayed: ");
  };

  const ItemIdentity identity = IdentityOf(freshSt);
  if (journal_) journal_->willPlaceNewItem(originalPath, identity);
  StatusOr<Attempt> attempt = RenameIntoEmptyPlace(move);
  if (!attempt.ok()) return attempt.status();
  if (*attempt == Attempt::kDone) {
    moved();
    nameEmptied();
    return Status::OK();
  }
  // The name is taken, maybe by a file an earlier share named: what takes
  // its place stays, whatever becomes of this run.
  if (journal_) journal_->willReplaceItem(originalPath, identity);
  attempt = Exchange(move);
  if (!attempt.ok()) return attempt.status();
  if (*attempt == Attempt::kDone) {
    moved();
    Status removed = removeOld(move.freshDir, move.freshName, newPath);
    if (removed.ok()) nameEmptied();
    return removed;
  }
  attempt = RenameOverFile(move, freshSt);
  if (!attempt.ok()) return attempt.status();
  if (*attempt == Attempt::kDone) {
    moved();
    nameEmptied();
    return Status::OK();
  }
  StatusOr<std::string> aside = MoveAsideThenIn(move, journal_.get());
  if (!aside.ok()) return aside.status();
  moved();
  nameEmptied();
  return removeOld(move.originalDir, *aside, JoinPath(ParentPath(originalPath), *aside));
}

}  // namespace platform::linux_platform
