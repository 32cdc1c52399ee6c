#include "platform/linux/files/copy_progress.h"

#include <cstdio>

#include <unistd.h>

namespace platform::linux_platform {

void TerminalProgressLine::show(const ProgressSnapshot& snapshot) {
  std::string text;
  if (open_ && snapshot.phase != phase_) {
    // The copying line keeps its final figures; the next phase starts below.
    text = "\n";
    lastWidth_ = 0;
  }
  std::string line = TerminalLine(snapshot);
  const std::size_t width = line.size();
  // Blank out what is left of a longer previous line.
  if (width < lastWidth_) line.append(lastWidth_ - width, ' ');
  text += "\r" + line;
  write_(text);
  lastWidth_ = width;
  phase_ = snapshot.phase;
  open_ = true;
}

void TerminalProgressLine::end() {
  if (!open_) return;
  write_("\n");
  open_ = false;
  lastWidth_ = 0;
}

CopyProgress::CopyProgress(std::shared_ptr<ProgressView> view, Clock clock, bool tick)
    : view_(std::move(view)), clock_(std::move(clock)), tick_(tick) {}

CopyProgress::CopyProgress(bool enabled, TerminalProgressLine::Writer write, Clock clock)
    : CopyProgress(enabled ? std::make_shared<TerminalProgressLine>(std::move(write)) : nullptr,
                   std::move(clock), false) {}

CopyProgress::~CopyProgress() { finish(); }

std::shared_ptr<CopyProgress> CopyProgress::ForStandardError() {
  std::shared_ptr<ProgressView> view;
  if (::isatty(STDERR_FILENO) == 1) {
    view = std::make_shared<TerminalProgressLine>([](std::string_view text) {
      std::fwrite(text.data(), 1, text.size(), stderr);
      std::fflush(stderr);
    });
  }
  return std::make_shared<CopyProgress>(std::move(view), [] { return std::chrono::steady_clock::now(); },
                                        true);
}

void CopyProgress::plan(std::uint64_t items, std::uint64_t totalBytes) {
  if (!view_) return;
  std::lock_guard lock(mutex_);
  items_ = items;
  totalBytes_ = totalBytes;
}

void CopyProgress::copyStarted() {
  if (!view_) return;
  bool firstStart = false;
  {
    std::lock_guard lock(mutex_);
    if (!started_) {
      started_ = true;
      firstStart = !ticker_.joinable();
      start_ = clock_();
      bytes_ = 0;
      files_ = 0;
      if (items_ == 0) item_ = 0;
    }
    ++item_;
    ++active_;
  }
  if (firstStart && tick_) startTicker();
}

void CopyProgress::bytesCopied(std::uint64_t count) {
  if (!view_) return;
  std::lock_guard lock(mutex_);
  bytes_ += count;
  drawIfDue(clock_());
}

void CopyProgress::fileCopied() {
  if (testDelay_.count() > 0 && !view_) std::this_thread::sleep_for(testDelay_);
  if (!view_) return;
  {
    std::lock_guard lock(mutex_);
    ++files_;
    drawIfDue(clock_());
  }
  if (testDelay_.count() > 0) std::this_thread::sleep_for(testDelay_);
}

void CopyProgress::copyFinished() {
  if (!view_) return;
  std::lock_guard lock(mutex_);
  if (active_ == 0) return;
  --active_;
  if (!drawn_) return;
  // Final figures of this copy. Without a plan, the last running copy ends
  // the line, as nothing says whether another will follow.
  draw(clock_());
  if (active_ == 0 && items_ == 0) endLocked();
}

void CopyProgress::savingStarted() {
  if (!view_) return;
  std::lock_guard lock(mutex_);
  if (!started_) return;
  saving_ = true;
  const auto now = clock_();
  if (drawn_) {
    draw(now);  // the change of phase shows at once
  } else {
    drawIfDue(now);
  }
}

void CopyProgress::savingFinished() {
  if (!view_) return;
  std::lock_guard lock(mutex_);
  if (!saving_) return;
  saving_ = false;
  endLocked();
}

void CopyProgress::finish() {
  if (!view_) return;
  std::thread ticker;
  {
    std::lock_guard lock(mutex_);
    saving_ = false;
    active_ = 0;
    endLocked();
    stopping_ = true;
    ticker.swap(ticker_);
  }
  stop_.notify_all();
  if (ticker.joinable()) ticker.join();
}

ProgressSnapshot CopyProgress::snapshot() const {
  std::lock_guard lock(mutex_);
  return snapshotLocked(clock_());
}

ProgressSnapshot CopyProgress::snapshotLocked(std::chrono::steady_clock::time_point now) const {
  ProgressSnapshot s;
  s.phase = saving_ ? ProgressSnapshot::Phase::saving : ProgressSnapshot::Phase::copying;
  s.item = item_;
  s.items = items_;
  s.bytes = bytes_;
  s.totalBytes = totalBytes_;
  s.seconds = started_ ? std::chrono::duration<double>(now - start_).count() : 0.0;
  s.bytesPerSecond = s.seconds > 0 ? static_cast<double>(bytes_) / s.seconds : 0.0;
  return s;
}

void CopyProgress::drawIfDue(std::chrono::steady_clock::time_point now) {
  if (!started_ || (active_ == 0 && !saving_) || now - start_ < kQuietPeriod) return;
  if (drawn_ && now - lastDraw_ < kRedrawInterval) return;
  draw(now);
}

void CopyProgress::draw(std::chrono::steady_clock::time_point now) {
  view_->show(snapshotLocked(now));
  lastDraw_ = now;
  drawn_ = true;
}

void CopyProgress::endLocked() {
  if (drawn_) view_->end();
  drawn_ = false;
  started_ = false;
}

void CopyProgress::startTicker() {
  std::lock_guard lock(mutex_);
  if (stopping_ || ticker_.joinable()) return;
  ticker_ = std::thread([this] { tickerLoop(); });
}

void CopyProgress::tickerLoop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    stop_.wait_for(lock, kRedrawInterval);
    if (!stopping_) drawIfDue(clock_());
  }
}

}  // namespace platform::linux_platform
