#pragma once

#include <memory>
#include <string>

#include <plist/plist.h>

#include "platform/linux/unique_fd.h"
#include "platform/status.h"

namespace platform::linux_platform {

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// The file of one settings suite, <directory>/<name>.plist, and the protocol
// every process that reads or writes it follows:
//   - the lock is an flock(2) on the sidecar <directory>/.<name>.plist.lock
//     (the suite itself is replaced by rename, so it cannot carry a lock);
//     whoever replaces the suite holds it exclusively from before reading the
//     suite until after the rename; a reader may hold it shared;
//   - the suite is replaced whole: a temporary file in the same directory,
//     fsync, rename over the suite, fsync of the directory.
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
    Lock() = default;
    explicit Lock(UniqueFd fd) : fd_(std::move(fd)) {}
    bool held() const { return fd_.valid(); }

   private:
    UniqueFd fd_;
  };

  // Waits for the lock. Fails when the lock file can be neither opened nor
  // created (`lockFileMissing` tells whether its directory is missing).
  Status lock(LockMode mode, Lock& lock, bool* directoryMissing = nullptr) const;

  enum class ReadOutcome {
    ok,          // `root` is the suite's top-level dictionary
    missing,     // there is no suite file
    unreadable,  // the file exists but cannot be read (`error` says why)
    unparsable,  // the file is no property list with a dictionary at its top
  };
  // Reads the suite as it is now, in XML or binary form.
  ReadOutcome read(PlistPtr& root, std::string* error = nullptr) const;

  // Replaces the suite with `root`: XML, or a binary property list when a
  // value holds text XML cannot carry. Mode 0600. Hold the lock exclusively.
  Status write(plist_t root) const;

  // Keeps an unparsable suite beside, under a name no other file has.
  bool moveAside() const;

 private:
  std::string directory_;
  std::string name_;
};

}  // namespace platform::linux_platform
