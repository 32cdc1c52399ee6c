#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include <plist/plist.h>

#include "platform/linux/base/unique_fd.h"
#include "platform/status.h"
#include "platform/status_or.h"

namespace platform::linux_platform {

class RunJournal;

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// The largest suite file read: a media list of a million copies takes a
// fraction of it.
inline constexpr std::size_t kMaxSuiteBytes = std::size_t{256} << 20;

// How long taking the suite's lock waits for another holder before it gives up.
inline constexpr std::chrono::seconds kLockWait{20};

// Whether `name` can name a suite: a file name of its own, not "." or "..".
bool ValidSuiteName(const std::string& name);

// The top-level dictionary of a suite file's bytes, XML or binary (`file`
// names it in messages); as PlistSuiteFile::read.
StatusOr<PlistPtr> ParseSuite(std::string_view contents, const std::string& file);

// The file of one settings suite, <directory>/<name>.plist, and the protocol
// every process that reads or writes it follows:
//   - the lock is an flock(2) on the sidecar <directory>/.<name>.plist.lock
//     (the suite itself is replaced by rename, so it cannot carry a lock);
//     whoever replaces the suite holds it exclusively from before reading
//     the suite until after the rename; a reader may hold it shared;
//   - the suite is replaced whole: a temporary file in the same directory,
//     fsync, rename over the suite, fsync of the directory; mode 0600.
class PlistSuiteFile {
 public:
  PlistSuiteFile(std::string directory, std::string name)
      : directory_(std::move(directory)), name_(std::move(name)) {}

  std::string path() const { return directory_ + "/" + name_ + ".plist"; }
  std::string lockPath() const { return directory_ + "/." + name_ + ".plist.lock"; }

  enum class LockMode { shared, exclusive };

  // Holds the suite's lock until it goes away.
  class Lock {
   public:
    explicit Lock(UniqueFd fd) : fd_(std::move(fd)) {}

   private:
    UniqueFd fd_;
  };

  // Waits for the lock, creating the lock file when there is none, at most
  // kLockWait. Not found when the directory is missing; not supported when
  // the lock's path holds a link or anything but a regular file.
  StatusOr<Lock> lock(LockMode mode) const;

  // The suite's top-level dictionary, XML or binary, as it is now. Not found
  // when there is no suite file; not supported when something other than a
  // regular file is there (a named pipe, a device, a socket), or a file of
  // more than kMaxSuiteBytes; corruption when the file is no property list
  // with a dictionary at its top, or nests too deep to parse safely.
  StatusOr<PlistPtr> read() const;

  // Replaces the suite with `root`: XML, or a binary property list when a
  // value holds text XML cannot carry. Hold the lock exclusively.
  // `journal`, when given, records the temporary so a later share can
  // clear it should this run die.
  Status write(plist_t root, RunJournal* journal = nullptr) const;

  // Keeps an unparsable suite beside, under a name no other file has.
  Status moveAside() const;

 private:
  std::string directory_;
  std::string name_;
};

}  // namespace platform::linux_platform
