#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/file_manager.h"
#include "platform/linux/copy_progress.h"

namespace platform::linux_platform {

class RunJournal;

// How synchronizeWrittenItems makes the recorded items durable.
enum class SyncMethod {
  // One syncfs per file system the items live on.
  kFileSystem,
  // fsync every recorded file, then every recorded directory.
  kEachItem,
};

// NSFileManager on POSIX files. App-group containers live in
// <dataHome>/group-containers/<group>/. Everything it creates or replaces is
// remembered until synchronizeWrittenItems makes it durable in one batch.
class PosixFileManager : public NSFileManager {
 public:
  struct Options {
    // Where long copies report; null means standard error when it is a terminal.
    std::shared_ptr<CopyProgress> progress;
    SyncMethod sync = SyncMethod::kFileSystem;
    // Where this run records the temporaries and new items it makes, so that
    // a later share can clear what it leaves if it dies; none records nothing.
    std::shared_ptr<RunJournal> journal;
  };

  explicit PosixFileManager(std::string dataHome);
  PosixFileManager(std::string dataHome, Options options);

  std::optional<URL> containerURLForSecurityApplicationGroupIdentifier(
      const std::string& groupIdentifier) override;
  bool fileExistsAtPath(const std::string& path) override;
  Status removeItemAtURL(const URL& url) override;
  Status copyItemAtURL(const URL& src, const URL& dst) override;
  Status replaceItemAtURL(const URL& originalItemURL, const URL& newItemURL) override;
  Status writeData(const Data& data, const URL& url, bool atomically) override;
  Status synchronizeWrittenItems() override;

 private:
  // Remembers paths (and their parent directories) for the next sync.
  void record(const std::vector<std::string>& paths);
  // Paths at or below `from` are now found at `to`.
  void recordMove(const std::string& from, const std::string& to);
  void forgetBelow(const std::string& path);

  Status syncFileSystems(const std::set<std::string>& paths);
  Status syncEachItem(const std::set<std::string>& paths);

  const std::string dataHome_;
  const std::shared_ptr<CopyProgress> progress_;
  const SyncMethod syncMethod_;
  const std::shared_ptr<RunJournal> journal_;

  std::mutex mutex_;
  std::set<std::string> written_;
  // Containers made or found this run, by group identifier: checked once.
  std::map<std::string, std::string> containers_;
};

}  // namespace platform::linux_platform
