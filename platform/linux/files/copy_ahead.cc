#include "platform/linux/files/copy_ahead.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>

namespace platform::linux_platform {
namespace {

// How far past the next expected source a take looks for its own: the share
// copies in the expected order, so a source is found at once or after the
// few that were not copied (failed loads, folders).
constexpr std::size_t kSearchWindow = 1024;

// Copying starts on one thread. When the files are large enough that
// copying one takes longer than the share takes to place it, the share
// waits for the copies, and a second thread joins: on two cores, 500 files
// of 200 KiB go 20–25% faster with two threads, while 10,000 of 4 KiB go
// 5–10% slower, the share itself being what they wait for.
constexpr std::uint64_t kLargeFileAverage = std::uint64_t{64} << 10;
constexpr std::size_t kFilesBeforeJudging = 8;

// How often a take looks whether the copy it waits for is done before it
// sleeps (each look yields the processor once).
constexpr int kSpinsBeforeSleeping = 200;

// Whether the file system of the open folder `dir` makes unnamed files;
// where it does not, every copy made ahead would fail.
bool UnnamedFilesIn(int dir) {
  return UniqueFd(::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600)).valid();
}

}  // namespace

CopyAhead::CopyAhead(std::vector<std::string> sources, CopyProgress* progress, Limits limits)
    : sources_(std::move(sources)), progress_(progress), limits_(limits), states_(sources_.size()) {}

CopyAhead::~CopyAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  workerWakes_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void CopyAhead::pass(std::size_t i) {
  if (states_[i] == State::ready) {
    const auto it = ready_.find(i);
    --readyFiles_;
    readyBytes_ -= static_cast<std::uint64_t>(it->second.source.st_size);
    ready_.erase(it);  // closing the unnamed file frees it
  }
  // A copy still being made is dropped by the worker when it sees this.
  states_[i] = State::passed;
}

std::optional<UnnamedCopy> CopyAhead::take(const std::string& srcPath, int dir) {
  std::unique_lock lock(mutex_);
  const std::size_t end = std::min(states_.size(), nextToTake_ + kSearchWindow);
  std::size_t i = nextToTake_;
  while (i < end && sources_[i] != srcPath) ++i;
  if (i == end) return std::nullopt;
  for (std::size_t skipped = nextToTake_; skipped < i; ++skipped) pass(skipped);
  nextToTake_ = i + 1;

  std::optional<UnnamedCopy> copy;
  if (!started_) {
    started_ = true;
    dir_ = dir;
    nextToCopy_ = i + 1;
    if (UnnamedFilesIn(dir)) addWorker();
  } else if (dir == dir_) {
    // A worker is at this very file. Meanwhile copy the next one, as a
    // worker would: with small files the workers, not the share, are what
    // holds a share up (10,000 files of 4 KiB: a third of the takes found
    // their file still being copied). With nothing left to copy, look again
    // a while before sleeping: copying one file takes some tens of
    // microseconds, and sleeping and being woken cost about as much.
    for (int spin = 0; states_[i] == State::copying && spin < kSpinsBeforeSleeping;) {
      if (!stopping_ && nextToCopy_ < states_.size() && belowLimits()) {
        copyNext(lock);
        continue;
      }
      lock.unlock();
      std::this_thread::yield();
      lock.lock();
      ++spin;
    }
    if (states_[i] == State::copying) {
      ++takersWaiting_;
      copied_.wait(lock, [&] { return states_[i] != State::copying; });
      --takersWaiting_;
    }
    if (states_[i] == State::ready) {
      const auto it = ready_.find(i);
      copy = std::move(it->second);
      ready_.erase(it);
      --readyFiles_;
      readyBytes_ -= static_cast<std::uint64_t>(copy->source.st_size);
      states_[i] = State::passed;
    }
  }
  pass(i);
  nextToCopy_ = std::max(nextToCopy_, nextToTake_);
  const bool wakeWorkers = workersWaiting_ > 0 && roomToCopy();
  lock.unlock();
  if (wakeWorkers) workerWakes_.notify_all();

  return copy;
}

bool CopyAhead::allTaken() {
  std::lock_guard lock(mutex_);
  return nextToTake_ == states_.size();
}

void CopyAhead::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!stopping_ && nextToCopy_ < states_.size() && !belowLimits()) {
      // Full: wait until the share has taken half, so that waking up is
      // rare (each wake-up is a pair of system calls on both sides).
      ++workersWaiting_;
      workerWakes_.wait(lock, [&] { return stopping_ || nextToCopy_ >= states_.size() || roomToCopy(); });
      --workersWaiting_;
    }
    if (stopping_ || nextToCopy_ >= states_.size()) return;
    copyNext(lock);
  }
}

void CopyAhead::copyNext(std::unique_lock<std::mutex>& lock) {
  const std::size_t i = nextToCopy_++;
  states_[i] = State::copying;
  lock.unlock();
  StatusOr<UnnamedCopy> copy = CopyFileToUnnamed(sources_[i], dir_, sources_[i], progress_, limits_.largestFile);
  lock.lock();
  if (states_[i] == State::copying) {
    if (copy.ok()) {
      ++readyFiles_;
      readyBytes_ += static_cast<std::uint64_t>(copy->source.st_size);
      bytesCopied_ += static_cast<std::uint64_t>(copy->source.st_size);
      ready_.emplace(i, std::move(copy).value());
      states_[i] = State::ready;
      if (++filesCopied_ >= kFilesBeforeJudging && bytesCopied_ / filesCopied_ >= kLargeFileAverage) addWorker();
    } else {
      states_[i] = State::failed;
    }
  }
  if (takersWaiting_ > 0) copied_.notify_all();
}

void CopyAhead::addWorker() {
  if (stopping_ || workers_.size() >= limits_.workers) return;
  try {
    workers_.emplace_back(&CopyAhead::run, this);
  } catch (const std::system_error&) {
    // Fewer threads; with none, the share copies everything itself.
  }
}

bool CopyAhead::belowLimits() const {
  return readyFiles_ < limits_.files && readyBytes_ < limits_.bytes;
}

bool CopyAhead::roomToCopy() const {
  return readyFiles_ <= limits_.files / 2 && readyBytes_ <= limits_.bytes / 2;
}

}  // namespace platform::linux_platform
