#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace platform::linux_platform {

// Tells a person at a terminal how a long copy is getting on: one line on
// standard error, redrawn in place with "\r" a few times a second, once the
// copying has run for about a second. Copies running at the same time (from
// several threads) add to one line, which ends with a newline when the last
// of them finishes. Quiet copies (short ones, or no terminal) print nothing.
class CopyProgress {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  using Writer = std::function<void(std::string_view)>;

  static constexpr std::chrono::milliseconds kQuietPeriod{1000};
  static constexpr std::chrono::milliseconds kRedrawInterval{250};

  // `enabled` false makes every call a no-op; `write` receives the text.
  CopyProgress(bool enabled, Writer write, Clock clock);

  // Reports on standard error when it is a terminal, and not at all otherwise.
  static std::shared_ptr<CopyProgress> ForStandardError();

  void copyStarted();
  void bytesCopied(std::uint64_t count);
  void fileCopied();
  void copyFinished();

  // The text of one progress line, e.g. "Copied 1.5 GiB (300.0 MiB/s), 2 files".
  static std::string FormatLine(std::uint64_t bytes, std::chrono::nanoseconds elapsed,
                                std::uint64_t files);

 private:
  void drawIfDue(std::chrono::steady_clock::time_point now);
  void draw(std::chrono::steady_clock::time_point now);

  const bool enabled_;
  const Writer write_;
  const Clock clock_;

  std::mutex mutex_;
  int active_ = 0;
  std::chrono::steady_clock::time_point started_{};
  std::chrono::steady_clock::time_point lastDraw_{};
  bool drawn_ = false;
  std::size_t lastWidth_ = 0;
  std::uint64_t bytes_ = 0;
  std::uint64_t files_ = 0;
};

}  // namespace platform::linux_platform
