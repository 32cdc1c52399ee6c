#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/files/file_copier.h"
#include "platform/linux/base/unique_fd.h"

namespace platform::linux_platform {

class CopyProgress;

// Copies the files a share is going to copy, in the order it will, into
// unnamed files of their destination folder, on threads of its own and a
// bounded amount ahead of the share. The share then only links each copy in,
// while the next files are being copied: on a machine with two cores,
// copying and placing overlap.
//
// Nothing it makes has a name until the share links it in, so copies the
// share never takes (it failed, or copied something else) vanish when they
// are dropped or the process ends. A copy is only a shortcut: whenever one
// is missing or failed, the share copies the file itself, and meets
// whatever error there is to meet.
class CopyAhead {
 public:
  struct Limits {
    std::size_t files = 64;                        // copies made and not yet taken
    std::uint64_t bytes = std::uint64_t{64} << 20;  // their data
    std::uint64_t largestFile = std::uint64_t{16} << 20;  // larger ones the share copies itself
    std::size_t workers = 2;  // threads copying, at most
  };

  // `sources`: the paths of the files expected to be copied, in order.
  CopyAhead(std::vector<std::string> sources, CopyProgress* progress, Limits limits);
  CopyAhead(std::vector<std::string> sources, CopyProgress* progress)
      : CopyAhead(std::move(sources), progress, Limits{}) {}
  ~CopyAhead();  // stops the threads; copies not taken are dropped
  CopyAhead(const CopyAhead&) = delete;
  CopyAhead& operator=(const CopyAhead&) = delete;

  // The copy of `srcPath` made ahead into the open folder `dir`, if the next
  // expected source equal to `srcPath` was copied there (waiting while it is
  // being copied). That source and the expected ones before it are passed
  // over for good. The copy is the file as it was a moment earlier, when it
  // was copied, as any copy is the file as it was at some moment of the
  // share. The first call copies nothing ahead for `srcPath` itself: it
  // starts the copying of the sources after it into `dir`, which must stay
  // open while this object lives.
  std::optional<UnnamedCopy> take(const std::string& srcPath, int dir);

  // Whether every expected source has been taken or passed over.
  bool allTaken();

 private:
  enum class State : unsigned char { waiting, copying, ready, failed, passed };
  void run();
  // With the mutex held as `lock`: copies the next expected source, the
  // mutex released meanwhile.
  void copyNext(std::unique_lock<std::mutex>& lock);
  // With the mutex held: one more thread copying, up to the limit.
  void addWorker();
  // With the mutex held: whether the copies made and not yet taken are
  // below both limits, so one more may be made.
  bool belowLimits() const;
  // With the mutex held: whether a worker that found the copies ahead at
  // their limit may go on (they are down to half of it).
  bool roomToCopy() const;
  // With the mutex held: passes slot `i` over, dropping its copy if ready.
  void pass(std::size_t i);

  const std::vector<std::string> sources_;
  CopyProgress* const progress_;
  const Limits limits_;

  std::mutex mutex_;
  std::condition_variable workerWakes_;  // room to copy, or stopping
  std::condition_variable copied_;       // a copy being waited for is done
  int workersWaiting_ = 0;
  std::size_t filesCopied_ = 0;
  std::uint64_t bytesCopied_ = 0;
  int takersWaiting_ = 0;
  std::vector<State> states_;  // one per expected source
  std::map<std::size_t, UnnamedCopy> ready_;
  std::size_t nextToCopy_ = 0;
  std::size_t nextToTake_ = 0;  // every slot before it is passed
  std::size_t readyFiles_ = 0;
  std::uint64_t readyBytes_ = 0;
  bool stopping_ = false;
  bool started_ = false;
  int dir_ = -1;
  std::vector<std::thread> workers_;
};

}  // namespace platform::linux_platform
