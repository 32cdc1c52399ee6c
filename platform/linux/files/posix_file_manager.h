#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_manager.h"
#include "platform/linux/files/copy_ahead.h"
#include "platform/linux/files/copy_progress.h"
#include "platform/linux/base/unique_fd.h"
#include "platform/status_or.h"

namespace platform::linux_platform {

class RunJournal;

// How synchronizeWrittenItems makes the recorded items durable.
enum class SyncMethod {
  // kFileSystem while little else waits to be written, else kEachItem.
  kChooseByUnwrittenData,
  // One syncfs per file system the items live on.
  kFileSystem,
  // fsync every recorded file, then every recorded folder, many at once.
  kEachItem,
};

// NSFileManager on POSIX files. App-group containers live in
// <dataHome>/group-containers/<group>/. Everything it creates or replaces is
// remembered until synchronizeWrittenItems makes it durable in one batch:
// one syncfs while little else waits to be written, else each file, then
// each folder, flushed on its own, so a share never waits for more than a
// few MiB of other programs' unwritten data.
// A container is opened once per run and the items in it are made relative
// to that open folder.
class PosixFileManager : public NSFileManager {
 public:
  struct Options {
    // Where long copies report; null means standard error when it is a terminal.
    std::shared_ptr<CopyProgress> progress;
    SyncMethod sync = SyncMethod::kChooseByUnwrittenData;
    // Where this run records the temporaries and new items it makes, so that
    // a later share can clear what it leaves if it dies; none records nothing.
    std::shared_ptr<RunJournal> journal;
    // The files the share is going to copy, in order: copyItemIntoPlace
    // copies those after the first one ahead, on a thread of its own, into
    // unnamed files of the container (see CopyAhead). A hint; none, or
    // paths never copied, change nothing but the time taken.
    std::vector<std::string> expectedSources = {};
    // Told of each link inside a copied folder that was left out because it
    // leads out of the folder (the folder itself is copied); none: not told.
    std::function<void(const std::string& link, const std::string& target)> linkLeftOut = {};
    // Told, one line each, why a container cannot be had (`important`), and
    // what was set right in one (a container others could read set back to
    // 0700); none: not told.
    std::function<void(const std::string& line, bool important)> tell = {};
  };

  explicit PosixFileManager(std::string dataHome);
  PosixFileManager(std::string dataHome, Options options);
  ~PosixFileManager() override;  // waits for a flush started early

  std::optional<URL> containerURLForSecurityApplicationGroupIdentifier(
      const std::string& groupIdentifier) override;
  bool fileExistsAtPath(const std::string& path) override;
  Status removeItemAtURL(const URL& url) override;
  Status copyItemAtURL(const URL& src, const URL& dst) override;
  Status replaceItemAtURL(const URL& originalItemURL, const URL& newItemURL) override;
  // A regular file is copied into an unnamed file (O_TMPFILE) that is linked
  // straight into the empty place of the original: no create, rename and
  // record line for the temporary, and a run that dies leaves nothing of it.
  // A place already taken, a folder, or a file system without unnamed files
  // go through the temporary name.
  Status copyItemIntoPlace(const URL& src, const URL& originalItemURL, const URL& temporaryURL) override;
  Status writeData(const Data& data, const URL& url, bool atomically) override;
  // Once the last of the expected sources is in place, a flush of everything
  // written so far starts in the background: it overlaps what the share does
  // before it hands over (the list is encoded meanwhile). This waits for
  // it, then flushes whatever came after, and what it could not.
  Status synchronizeWrittenItems() override;

 private:
  // Copies `src` to `dstPath`, which must be free, and remembers what was
  // made; with `unnamed`, a regular file may come back there, unnamed,
  // instead (see CopyTarget).
  Status copyTo(const URL& src, const std::string& dstPath, UnnamedCopy* unnamed);
  // copyItemIntoPlace without the check for the early flush.
  Status placeCopy(const URL& src, const URL& originalItemURL, const URL& temporaryURL);
  // Makes what was written so far durable; on a failure it is kept for the next call.
  Status flushWritten();
  void startEarlyFlush();
  // The copy of `srcPath` made ahead for `dstPath`, when that is in a
  // container this run opened.
  std::optional<UnnamedCopy> takeCopyAhead(const std::string& srcPath, const std::string& dstPath);
  // Remembers paths (and their parent directories) for the next sync.
  void record(const std::vector<std::string>& paths);
  // Paths at or below `from` are now found at `to`.
  void recordMove(const std::string& from, const std::string& to);
  void forgetBelow(const std::string& path);

  // The open folder holding `path` and its last component: a container
  // this run opened is used as it is, any other folder is opened.
  struct Parent {
    UniqueFd opened;
    int dir = -1;
    std::string name;
  };
  StatusOr<Parent> parentOf(const std::string& path);
  // The open container whose path is `directory`, or -1.
  int containerDir(const std::string& directory);
  // Whether each container is still the folder this run opened under its
  // name; a container moved or replaced meanwhile got the items elsewhere.
  Status checkContainersInPlace();

  struct Container {
    std::string path;
    UniqueFd dir;
    URL url;  // handed out for every attachment
  };

  const std::string dataHome_;
  const std::shared_ptr<CopyProgress> progress_;
  const SyncMethod syncMethod_;
  const std::shared_ptr<RunJournal> journal_;
  const std::function<void(const std::string&, const std::string&)> linkLeftOut_;
  const std::function<void(const std::string&, bool)> tell_;

  std::mutex mutex_;
  std::set<std::string> written_;
  // Bytes written since the last synchronizeWrittenItems.
  std::atomic<std::uint64_t> unflushedBytes_{0};
  // Containers made or found this run, by group identifier: checked once,
  // open for the whole run.
  std::map<std::string, Container> containers_;
  std::set<std::string> containerFailuresTold_;
  // After the containers: its thread copies into their open folders.
  std::unique_ptr<CopyAhead> copyAhead_;
  std::mutex earlyFlushMutex_;
  bool earlyFlushStarted_ = false;
  std::thread earlyFlush_;
};

}  // namespace platform::linux_platform
