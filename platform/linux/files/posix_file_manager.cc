#include "platform/linux/files/posix_file_manager.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/base/file_tree.h"
#include "platform/linux/base/file_writing.h"
#include "platform/linux/files/atomic_write.h"
#include "platform/linux/files/run_journal.h"
#include "platform/linux/base/unique_fd.h"
#include "platform/linux/base/xdg_dirs.h"

// The file manager's container, its checks and plain writes. Copying and
// replacing items: posix_file_manager_placing.cc; flushing what was written:
// posix_file_manager_flush.cc.

namespace platform::linux_platform {

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

namespace {

// A step of making the container that failed: what, on which folder, errno.
struct FolderFailure {
  const char* what;
  std::string where;
  int err;
};

// Makes the missing folders of `path`, each owner-only whatever the umask,
// and adds those it made to `created`.
std::optional<FolderFailure> MakeOwnerOnlyFolders(const std::string& path, std::vector<std::string>& created) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix = path.substr(0, end);
    if (!prefix.empty() && prefix.back() != '/') {
      if (::mkdir(prefix.c_str(), 0700) == 0) {
        // The umask may have taken bits away; the container is owner-only.
        if (::chmod(prefix.c_str(), 0700) != 0) return FolderFailure{"cannot set the permissions of", prefix, errno};
        created.push_back(prefix);
      } else if (errno != EEXIST) {
        return FolderFailure{"cannot create folder", prefix, errno};
      }
    }
    if (end == std::string::npos) break;
  }
  return std::nullopt;
}

// A container found open to group or others (made by hand, or by an older
// program): the copies in it are the person's, so it is closed again when it
// is theirs.
void CloseToOthers(int dir, const std::string& path, const std::function<void(const std::string&, bool)>& tell) {
  struct stat st {};
  if (::fstat(dir, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) {
    if (::fchmod(dir, 0700) == 0) {
      if (tell) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        tell("the container " + path + " was open to others (mode " + mode + "); set back to 0700", false);
      }
    } else if (tell) {
      tell("the container " + path + " is open to others, and cannot be set to 0700: " + std::strerror(errno), true);
    }
  }
}

}  // namespace

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
    if (const auto failed = MakeOwnerOnlyFolders(path, created)) return cannot(failed->what, failed->where, failed->err);
    dir = openDirectory();
    if (!dir.valid()) return cannot("cannot open", path, errno);
  } else {
    CloseToOthers(dir.get(), path, tell_);
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
