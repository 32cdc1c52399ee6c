#include "platform/linux/copy_progress.h"

#include <array>
#include <cstdio>

#include <unistd.h>

namespace platform::linux_platform {

namespace {

std::string HumanBytes(double bytes) {
  static constexpr std::array<const char*, 5> kUnits = {"B", "KiB", "MiB", "GiB", "TiB"};
  std::size_t unit = 0;
  while (bytes >= 1024.0 && unit + 1 < kUnits.size()) {
    bytes /= 1024.0;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%.0f %s", bytes, kUnits[unit]);
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", bytes, kUnits[unit]);
  }
  return text;
}

}  // namespace

CopyProgress::CopyProgress(bool enabled, Writer write, Clock clock)
    : enabled_(enabled), write_(std::move(write)), clock_(std::move(clock)) {}

std::shared_ptr<CopyProgress> CopyProgress::ForStandardError() {
  return std::make_shared<CopyProgress>(
      ::isatty(STDERR_FILENO) == 1,
      [](std::string_view text) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
      },
      [] { return std::chrono::steady_clock::now(); });
}

std::string CopyProgress::FormatLine(std::uint64_t bytes, std::chrono::nanoseconds elapsed,
                                     std::uint64_t files) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0;
  std::string line = "Copied " + HumanBytes(static_cast<double>(bytes)) + " (" +
                     HumanBytes(rate) + "/s), " + std::to_string(files) +
                     (files == 1 ? " file" : " files");
  return line;
}

void CopyProgress::copyStarted() {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  if (active_++ == 0) {
    started_ = clock_();
    drawn_ = false;
    lastWidth_ = 0;
    bytes_ = 0;
    files_ = 0;
  }
}

void CopyProgress::bytesCopied(std::uint64_t count) {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  bytes_ += count;
  drawIfDue(clock_());
}

void CopyProgress::fileCopied() {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  ++files_;
  drawIfDue(clock_());
}

void CopyProgress::copyFinished() {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  if (active_ == 0 || --active_ > 0) return;
  if (drawn_) {
    // Final figures, then leave the line for whatever is printed next.
    draw(clock_());
    write_("\n");
  }
}

void CopyProgress::drawIfDue(std::chrono::steady_clock::time_point now) {
  if (active_ == 0 || now - started_ < kQuietPeriod) return;
  if (drawn_ && now - lastDraw_ < kRedrawInterval) return;
  draw(now);
}

void CopyProgress::draw(std::chrono::steady_clock::time_point now) {
  std::string line = FormatLine(bytes_, now - started_, files_);
  const std::size_t width = line.size();
  // Blank out what is left of a longer previous line.
  if (width < lastWidth_) line.append(lastWidth_ - width, ' ');
  write_("\r" + line);
  lastWidth_ = width;
  lastDraw_ = now;
  drawn_ = true;
}

}  // namespace platform::linux_platform
