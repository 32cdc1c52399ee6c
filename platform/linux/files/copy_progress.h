#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/linux/base/progress_text.h"

namespace platform::linux_platform {

// Somewhere a share's progress is shown: a terminal line or a window.
class ProgressView {
 public:
  virtual ~ProgressView() = default;
  // The latest figures; called a few times a second while there is progress.
  virtual void show(const ProgressSnapshot& snapshot) = 0;
  // The progress is over (the copies are durable or the share has ended).
  virtual void end() = 0;
};

// One line on a terminal stream, redrawn in place with "\r"; the saving phase
// gets a line of its own.
class TerminalProgressLine : public ProgressView {
 public:
  using Writer = std::function<void(std::string_view)>;
  explicit TerminalProgressLine(Writer write) : write_(std::move(write)) {}
  void show(const ProgressSnapshot& snapshot) override;
  void end() override;

 private:
  Writer write_;
  bool open_ = false;  // a line is on the screen, not yet ended
  ProgressSnapshot::Phase phase_ = ProgressSnapshot::Phase::copying;
  std::size_t lastWidth_ = 0;
};

// The progress of a share's copies: how many items and bytes, how fast, how
// long still, and whether the copies are being made durable. Nothing is shown
// during the first second, so short shares stay quiet; after that the view
// gets the figures a few times a second. Copies running at the same time
// (several threads) add to one count. With no view every call is a no-op.
class CopyProgress {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  static constexpr std::chrono::milliseconds kQuietPeriod{1000};
  static constexpr std::chrono::milliseconds kRedrawInterval{250};

  // `tick` starts a thread that redraws while a long step (a big file in the
  // kernel, a flush) reports nothing; tests drive a hand-set clock without it.
  CopyProgress(std::shared_ptr<ProgressView> view, Clock clock, bool tick);
  // A terminal line through `write` when `enabled`, no view otherwise.
  CopyProgress(bool enabled, TerminalProgressLine::Writer write, Clock clock);
  ~CopyProgress();
  CopyProgress(const CopyProgress&) = delete;
  CopyProgress& operator=(const CopyProgress&) = delete;

  // A terminal line on standard error when it is a terminal, else nothing.
  static std::shared_ptr<CopyProgress> ForStandardError();

  // What the share will copy, counted before copying starts.
  void plan(std::uint64_t items, std::uint64_t totalBytes);

  // One shared item's copy (a file or a whole folder) starts and finishes.
  void copyStarted();
  void bytesCopied(std::uint64_t count);
  void fileCopied();
  void copyFinished();

  // The copies are being made durable, and are.
  void savingStarted();
  void savingFinished();

  // The share is over: whatever is shown goes away.
  void finish();

  // For tests (only a test build of the program sets it): every file copied
  // takes `delay` longer, shown or not, so that a copy of small files runs
  // long enough to be seen or stopped.
  void setTestDelay(std::chrono::milliseconds delay) { testDelay_ = delay; }

  // The figures now.
  ProgressSnapshot snapshot() const;

 private:
  ProgressSnapshot snapshotLocked(std::chrono::steady_clock::time_point now) const;
  void drawIfDue(std::chrono::steady_clock::time_point now);
  void draw(std::chrono::steady_clock::time_point now);
  void endLocked();
  void startTicker();
  void tickerLoop();

  const std::shared_ptr<ProgressView> view_;
  const Clock clock_;
  const bool tick_;
  std::chrono::milliseconds testDelay_{0};

  mutable std::mutex mutex_;
  std::condition_variable stop_;
  std::thread ticker_;
  bool stopping_ = false;

  bool started_ = false;
  std::chrono::steady_clock::time_point start_{};
  std::chrono::steady_clock::time_point lastDraw_{};
  bool drawn_ = false;
  int active_ = 0;
  bool saving_ = false;
  std::uint64_t item_ = 0;
  std::uint64_t items_ = 0;
  std::uint64_t bytes_ = 0;
  std::uint64_t totalBytes_ = 0;
  std::uint64_t files_ = 0;
};

}  // namespace platform::linux_platform
