#include "platform/linux/files/posix_file_manager.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/files/file_copier.h"
#include "platform/linux/base/file_tree.h"
#include "platform/linux/base/file_writing.h"
#include "platform/linux/files/atomic_write.h"
#include "platform/linux/base/proc_fields.h"
#include "platform/linux/files/run_journal.h"
#include "platform/linux/base/unique_fd.h"
#include "platform/linux/base/xdg_dirs.h"

namespace platform::linux_platform {

namespace {

std::string ParentPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool IsAtOrBelow(const std::string& path, const std::string& top) {
  return path == top || (path.size() > top.size() && path.compare(0, top.size(), top) == 0 &&
                         (top.back() == '/' || path[top.size()] == '/'));
}

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

// One recorded item to flush: `name` relative to the open folder `dir`
// (AT_FDCWD with the whole path when it is not in a container); `path` names
// it in messages.
struct FlushItem {
  int dir;
  std::string name;
  const std::string* path;
};

// How many flushes run at once. Each flush of an item already written out
// still waits for the disk to empty its cache; run side by side, those waits
// merge into a few, where one after the other they would add up.
constexpr std::size_t kFlushThreads = 32;

// Runs job(0) ... job(count - 1) on up to kFlushThreads threads and returns
// the first failure. Should no thread start, the caller's thread does it all.
Status RunInParallel(std::size_t count, const std::function<Status(std::size_t)>& job) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex mutex;
  Status firstFailure;
  const auto work = [&] {
    for (std::size_t i; !failed.load() && (i = next.fetch_add(1)) < count;) {
      Status status = job(i);
      if (status.ok()) continue;
      std::lock_guard lock(mutex);
      if (!failed.exchange(true)) firstFailure = std::move(status);
    }
  };
  std::vector<std::thread> threads;
  const std::size_t wanted = std::min(count, kFlushThreads);
  for (std::size_t t = 1; t < wanted; ++t) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // Fewer threads, same result.
    }
  }
  work();
  for (std::thread& thread : threads) thread.join();
  return firstFailure;
}

Status FlushFolders(const std::vector<const FlushItem*>& folders) {
  return RunInParallel(folders.size(), [&](std::size_t i) -> Status {
    const FlushItem& item = *folders[i];
    UniqueFd fd(::openat(item.dir, item.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
      if (errno == ENOENT) return Status::OK();
      return ErrnoStatus("cannot open folder", *item.path, errno);
    }
    if (::fsync(fd.get()) != 0) return ErrnoStatus("cannot write to disk", *item.path, errno);
    return Status::OK();
  });
}

// fsyncs every file among `items`, then every folder, so that a folder's
// entries are durable only once what they name is. Items gone since they were
// written (removed, or moved and recorded again under their new name) and
// links (their folder holds them) are skipped.
Status FlushFilesThenFolders(const std::vector<FlushItem>& items) {
  std::mutex mutex;
  std::vector<const FlushItem*> folders;
  Status files = RunInParallel(items.size(), [&](std::size_t i) -> Status {
    const FlushItem& item = items[i];
    UniqueFd fd(::openat(item.dir, item.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid()) {
      if (errno == ENOENT || errno == ELOOP) return Status::OK();
      return ErrnoStatus("cannot open", *item.path, errno);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return ErrnoStatus("cannot read", *item.path, errno);
    if (S_ISDIR(st.st_mode)) {
      std::lock_guard lock(mutex);
      folders.push_back(&item);
      return Status::OK();
    }
    if (::fsync(fd.get()) != 0) return ErrnoStatus("cannot write to disk", *item.path, errno);
    return Status::OK();
  });
  if (!files.ok()) return files;
  return FlushFolders(folders);
}

// How much unwritten data of other programs a share may wait for.
constexpr std::uint64_t kOthersUnwrittenLimit = std::uint64_t{8} << 20;
// What each item written dirties besides its data: its inode, its folder
// entry, bitmaps (measured: about 270 bytes a file on ext4).
constexpr std::uint64_t kMetadataPerItem = 1024;

// Flushing each item costs a wait for the disk's cache per file (10,000 files
// of 4 KiB: 0.45 s, against 0.11 s for one syncfs of the same data); one
// syncfs costs whatever else waits to be written on that file system. So
// syncfs is taken only while the whole system holds at most
// kOthersUnwrittenLimit of unwritten data besides what this share wrote
// (`ownBytes` of data in `items` items); with more, or when that cannot be
// read, each item is flushed.
bool LittleElseUnwritten(std::uint64_t ownBytes, std::size_t items) {
  const std::optional<std::string> meminfo = ReadProcFile("/proc/meminfo");
  if (!meminfo) return false;
  const std::optional<std::uint64_t> dirty = ProcFieldNumber(*meminfo, "Dirty");
  const std::optional<std::uint64_t> writeback = ProcFieldNumber(*meminfo, "Writeback");
  if (!dirty || !writeback) return false;
  const std::uint64_t unwritten = (*dirty + *writeback) * 1024;  // in kB
  return unwritten <= ownBytes + items * kMetadataPerItem + kOthersUnwrittenLimit;
}

// One syncfs per file system the items live on.
Status SyncFileSystems(const std::vector<FlushItem>& items) {
  std::map<dev_t, const FlushItem*> fileSystems;  // one item on each
  std::set<int> containersSeen;
  for (const FlushItem& item : items) {
    struct stat st {};
    if (item.dir != AT_FDCWD) {
      // Everything in a container lives where the container does.
      if (!containersSeen.insert(item.dir).second) continue;
      if (::fstat(item.dir, &st) != 0) return ErrnoStatus("cannot read", *item.path, errno);
    } else if (::lstat(item.path->c_str(), &st) != 0) {
      continue;  // Removed since it was written: nothing to make durable.
    }
    fileSystems.emplace(st.st_dev, &item);
  }
  for (const auto& [device, item] : fileSystems) {
    UniqueFd fd(item->dir != AT_FDCWD
                    ? ::fcntl(item->dir, F_DUPFD_CLOEXEC, 0)
                    : ::open(ParentPath(*item->path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) return ErrnoStatus("cannot open", *item->path, errno);
    if (::syncfs(fd.get()) != 0) return ErrnoStatus("cannot write to disk", *item->path, errno);
  }
  return Status::OK();
}

}  // namespace

PosixFileManager::PosixFileManager(std::string dataHome)
    : PosixFileManager(std::move(dataHome), Options{}) {}

PosixFileManager::PosixFileManager(std::string dataHome, Options options)
    : dataHome_(std::move(dataHome)),
      progress_(options.progress ? std::move(options.progress) : CopyProgress::ForStandardError()),
      syncMethod_(options.sync),
      journal_(std::move(options.journal)),
      linkLeftOut_(std::move(options.linkLeftOut)),
      tell_(std::move(options.tell)) {
  if (!options.expectedSources.empty()) {
    copyAhead_ = std::make_unique<CopyAhead>(std::move(options.expectedSources), progress_.get());
  }
}

PosixFileManager::~PosixFileManager() {
  std::lock_guard lock(earlyFlushMutex_);
  if (earlyFlush_.joinable()) earlyFlush_.join();
}

std::optional<URL> PosixFileManager::containerURLForSecurityApplicationGroupIdentifier(
    const std::string& groupIdentifier) {
  // The identifier becomes one path component; nothing may take it elsewhere.
  if (groupIdentifier.empty() || groupIdentifier == "." || groupIdentifier == ".." ||
      groupIdentifier.find('/') != std::string::npos ||
      groupIdentifier.find('\0') != std::string::npos || dataHome_.empty()) {
    return std::nullopt;
  }
  {
    std::lock_guard lock(mutex_);
    if (const auto it = containers_.find(groupIdentifier); it != containers_.end()) return it->second.url;
  }
  const std::string path = ContainerDirectory(dataHome_, groupIdentifier);

  // Said once per run, however many attachments ask for the container.
  const auto cannot = [&](const std::string& what, const std::string& where, int err) -> std::optional<URL> {
    const std::string line = "the container " + path + " cannot be had: " + ErrnoStatus(what, where, err).message();
    bool first = false;
    {
      std::lock_guard lock(mutex_);
      first = containerFailuresTold_.insert(line).second;
    }
    if (tell_ && first) tell_(line, true);
    return std::nullopt;
  };
  // Usually there already: one open instead of a mkdir per path component.
  const auto openDirectory = [&] { return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); };
  UniqueFd dir = openDirectory();
  std::vector<std::string> created;
  if (!dir.valid()) {
    if (errno != ENOENT) return cannot("cannot open", path, errno);
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
      const std::string prefix = path.substr(0, end);
      if (!prefix.empty() && prefix.back() != '/') {
        if (::mkdir(prefix.c_str(), 0700) == 0) {
          // The umask may have taken bits away; the container is owner-only.
          if (::chmod(prefix.c_str(), 0700) != 0) return cannot("cannot set the permissions of", prefix, errno);
          created.push_back(prefix);
        } else if (errno != EEXIST) {
          return cannot("cannot create folder", prefix, errno);
        }
      }
      if (end == std::string::npos) break;
    }
    dir = openDirectory();
    if (!dir.valid()) return cannot("cannot open", path, errno);
  } else {
    // Found open to group or others (made by hand, or by an older program):
    // the copies in it are the person's, so it is closed again when it is
    // theirs.
    struct stat st {};
    if (::fstat(dir.get(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) {
      if (::fchmod(dir.get(), 0700) == 0) {
        if (tell_) {
          char mode[8];
          std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
          tell_("the container " + path + " was open to others (mode " + mode + "); set back to 0700", false);
        }
      } else if (tell_) {
        tell_("the container " + path + " is open to others, and cannot be set to 0700: " + std::strerror(errno), true);
      }
    }
  }
  record(created);
  // Made or found once per run: later attachments take it as it is.
  std::lock_guard lock(mutex_);
  const auto it =
      containers_.emplace(groupIdentifier, Container{path, std::move(dir), URL::fileURLWithPath(path, true)}).first;
  return it->second.url;
}

int PosixFileManager::containerDir(const std::string& directory) {
  std::lock_guard lock(mutex_);
  for (const auto& [group, container] : containers_) {
    if (container.path == directory) return container.dir.get();
  }
  return -1;
}

StatusOr<PosixFileManager::Parent> PosixFileManager::parentOf(const std::string& path) {
  StatusOr<DirectoryAndName> split = SplitPath(path);
  if (!split.ok()) return split.status();
  Parent parent;
  parent.name = std::move(split->name);
  parent.dir = containerDir(split->directory);
  if (parent.dir >= 0) return parent;
  parent.opened = UniqueFd(::open(split->directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.opened.valid()) return ErrnoStatus("cannot open folder", split->directory, errno);
  parent.dir = parent.opened.get();
  return parent;
}

bool PosixFileManager::fileExistsAtPath(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

Status PosixFileManager::removeItemAtURL(const URL& url) {
  const std::string path = url.path();
  StatusOr<Parent> item = parentOf(path);
  if (!item.ok()) return item.status();
  Status status = RemoveTreeAt(item->dir, item->name, path);
  if (status.ok()) forgetBelow(path);
  return status;
}

namespace {

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

void PosixFileManager::startEarlyFlush() {
  std::lock_guard lock(earlyFlushMutex_);
  if (earlyFlushStarted_) return;
  earlyFlushStarted_ = true;
  try {
    earlyFlush_ = std::thread([this] { (void)flushWritten(); });
  } catch (const std::system_error&) {
    // synchronizeWrittenItems flushes it all then.
  }
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

Status PosixFileManager::writeData(const Data& data, const URL& url, bool atomically) {
  const std::string path = url.path();
  const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
  if (atomically) {
    // Not the directory: synchronizeWrittenItems makes the name durable with
    // everything else this manager wrote.
    AtomicWriteOptions options;
    options.journal = journal_.get();
    if (Status written = WriteFileAtomically(path, bytes, options); !written.ok()) return written;
    unflushedBytes_ += bytes.size();
    record({path});
    return Status::OK();
  }
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666));
  if (!fd.valid()) return ErrnoStatus("cannot create", path, errno);
  if (Status written = WriteAll(fd.get(), bytes, "cannot write", path); !written.ok()) return written;
  if (Status closed = CloseChecked(fd, path); !closed.ok()) return closed;
  unflushedBytes_ += bytes.size();
  record({path});
  return Status::OK();
}

void PosixFileManager::record(const std::vector<std::string>& paths) {
  std::lock_guard lock(mutex_);
  for (const std::string& path : paths) {
    written_.insert(path);
    written_.insert(ParentPath(path));
  }
}

void PosixFileManager::recordMove(const std::string& from, const std::string& to) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> movedPaths;
  for (auto it = written_.lower_bound(from); it != written_.end() && it->starts_with(from);) {
    if (IsAtOrBelow(*it, from)) {
      movedPaths.push_back(to + it->substr(from.size()));
      it = written_.erase(it);
    } else {
      ++it;
    }
  }
  written_.insert(movedPaths.begin(), movedPaths.end());
}

void PosixFileManager::forgetBelow(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (auto it = written_.lower_bound(path); it != written_.end() && it->starts_with(path);) {
    it = IsAtOrBelow(*it, path) ? written_.erase(it) : std::next(it);
  }
}

Status PosixFileManager::synchronizeWrittenItems() {
  {
    std::lock_guard lock(earlyFlushMutex_);
    if (earlyFlush_.joinable()) earlyFlush_.join();
  }
  return flushWritten();
}

Status PosixFileManager::flushWritten() {
  std::set<std::string> paths;
  {
    std::lock_guard lock(mutex_);
    paths.swap(written_);
  }
  if (paths.empty()) return Status::OK();
  const std::uint64_t ownBytes = unflushedBytes_.exchange(0);
  progress_->savingStarted();
  Status status = checkContainersInPlace();
  if (status.ok()) {
    // Items in a container are opened relative to it; anything else by path.
    std::vector<FlushItem> items;
    items.reserve(paths.size());
    for (const std::string& path : paths) {
      StatusOr<DirectoryAndName> split = SplitPath(path);
      const int container = split.ok() ? containerDir(split->directory) : -1;
      if (container >= 0) {
        items.push_back(FlushItem{container, std::move(split->name), &path});
      } else {
        items.push_back(FlushItem{AT_FDCWD, path, &path});
      }
    }
    const bool wholeFileSystem =
        syncMethod_ == SyncMethod::kFileSystem ||
        (syncMethod_ == SyncMethod::kChooseByUnwrittenData && LittleElseUnwritten(ownBytes, items.size()));
    status = wholeFileSystem ? SyncFileSystems(items) : FlushFilesThenFolders(items);
  }
  progress_->savingFinished();
  if (!status.ok()) {
    // Keep them for the next attempt.
    unflushedBytes_ += ownBytes;
    std::lock_guard lock(mutex_);
    written_.insert(paths.begin(), paths.end());
  }
  return status;
}

Status PosixFileManager::checkContainersInPlace() {
  std::lock_guard lock(mutex_);
  for (const auto& [group, container] : containers_) {
    struct stat opened {};
    struct stat named {};
    if (::fstat(container.dir.get(), &opened) != 0 || ::stat(container.path.c_str(), &named) != 0 ||
        opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
      return Status::IOError("the container " + container.path + " was moved or removed during the share");
    }
  }
  return Status::OK();
}

}  // namespace platform::linux_platform
