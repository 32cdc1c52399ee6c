#include "platform/linux/files/copy_progress.h"

#include <algorithm>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace platform::linux_platform {
namespace {

using namespace std::chrono_literals;
using Phase = ProgressSnapshot::Phase;

TEST(ProgressText, TerminalLineAndWindowTexts) {
  constexpr std::uint64_t GiB = std::uint64_t{1} << 30;
  struct Case {
    ProgressSnapshot snapshot;
    const char* line;
    const char* heading;
    const char* amount;
    const char* timeLeft;
  };
  const std::vector<Case> cases = {
      // Half of a known total at 307.2 MiB/s: 5 s to go.
      {{Phase::copying, 2, 3, 3 * GiB / 2, 3 * GiB, 5.0, 3.0 * GiB / 10.0},
       "  1.5 GiB of 3.0 GiB  50%  307.2 MiB/s  0:00:05 left  item 2 of 3",
       "Copying item 2 of 3",
       "1.5 GiB of 3.0 GiB (50%)",
       "About 0:00:05 left (307.2 MiB/s)"},
      // No total known: no percent, no time left, no "of".
      {{Phase::copying, 1, 0, 512, 0, 1.0, 512.0}, "  512 B  512 B/s  item 1", "Copying item 1", "512 B",
       "512 B/s"},
      // More copied than was counted (a file grew): the total is not believed.
      {{Phase::copying, 1, 1, 2048, 1024, 1.0, 2048.0}, "  2.0 KiB  2.0 KiB/s  item 1 of 1",
       "Copying item 1 of 1", "2.0 KiB", "2.0 KiB/s"},
      // An hour and more to go.
      {{Phase::copying, 1, 1, 1 << 20, 4000ull << 20, 1.0, double(1 << 20)},
       "  1.0 MiB of 3.9 GiB  0%  1.0 MiB/s  1:06:39 left  item 1 of 1", "Copying item 1 of 1",
       "1.0 MiB of 3.9 GiB (0%)", "About 1:06:39 left (1.0 MiB/s)"},
      {{Phase::saving, 3, 3, 3 * GiB, 3 * GiB, 9.0, 0}, "Saving the copies to disk...", "Saving the copies to disk",
       "3.0 GiB copied; making sure it is on the disk", "Almost done"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TerminalLine(c.snapshot), c.line);
    EXPECT_EQ(WindowHeading(c.snapshot), c.heading);
    EXPECT_EQ(WindowAmount(c.snapshot), c.amount);
    EXPECT_EQ(WindowTimeLeft(c.snapshot), c.timeLeft);
  }
}

// A progress line driven by a hand-set clock, collecting what it writes.
struct ProgressHarness {
  std::chrono::steady_clock::time_point now{};
  std::string written;
  CopyProgress progress{true, [this](std::string_view text) { written += text; }, [this] { return now; }};
  std::string lastLine() const { return written.substr(written.rfind('\r') + 1); }
};

TEST(CopyProgress, PlannedShareOneLineAcrossItemsThenTheSavingLine) {
  ProgressHarness h;
  h.progress.plan(2, 4096);
  h.progress.copyStarted();
  h.now += 900ms;
  h.progress.bytesCopied(1024);
  EXPECT_EQ(h.written, "") << "quiet during the first second";

  h.now += 200ms;  // 1.1 s in
  h.progress.bytesCopied(1024);
  EXPECT_EQ(h.written, "\r  2.0 KiB of 4.0 KiB  50%  1.8 KiB/s  0:00:01 left  item 1 of 2");

  h.now += 100ms;  // too soon to redraw
  h.progress.bytesCopied(512);
  EXPECT_EQ(std::count(h.written.begin(), h.written.end(), '\r'), 1);

  h.progress.fileCopied();
  h.progress.copyFinished();  // the next item goes on on the same line
  h.progress.copyStarted();
  h.now += 300ms;
  h.progress.bytesCopied(1536);
  EXPECT_EQ(h.lastLine(), "  4.0 KiB of 4.0 KiB  100%  2.7 KiB/s  0:00:00 left  item 2 of 2");
  h.progress.copyFinished();
  EXPECT_EQ(h.written.find('\n'), std::string::npos);

  h.progress.savingStarted();
  EXPECT_EQ(h.written.substr(h.written.size() - 30), "\n\rSaving the copies to disk...");
  h.progress.savingFinished();
  EXPECT_EQ(h.written.back(), '\n');
  EXPECT_EQ(std::count(h.written.begin(), h.written.end(), '\n'), 2);

  h.progress.finish();  // nothing more to end
  EXPECT_EQ(std::count(h.written.begin(), h.written.end(), '\n'), 2);
}

TEST(CopyProgress, ShortShareAndNoViewPrintNothing) {
  ProgressHarness h;
  h.progress.copyStarted();
  h.now += 300ms;
  h.progress.bytesCopied(1 << 20);
  h.progress.fileCopied();
  h.progress.copyFinished();
  h.progress.savingStarted();
  h.progress.savingFinished();
  h.progress.finish();
  EXPECT_EQ(h.written, "");

  std::chrono::steady_clock::time_point now{};
  std::string written;
  CopyProgress off(false, [&](std::string_view text) { written += text; }, [&] { return now; });
  off.copyStarted();
  now += 10s;
  off.bytesCopied(1 << 30);
  off.copyFinished();
  off.finish();
  EXPECT_EQ(written, "");
}

TEST(CopyProgress, UnplannedConcurrentCopiesShareOneLineEndedByTheLast) {
  ProgressHarness h;
  h.progress.copyStarted();
  h.progress.copyStarted();
  h.now += 2s;
  h.progress.bytesCopied(100);
  h.progress.copyFinished();
  EXPECT_EQ(h.written.find('\n'), std::string::npos);
  h.progress.copyFinished();
  EXPECT_EQ(h.written.back(), '\n');

  // A later copy starts its own count and clock.
  h.written.clear();
  h.progress.copyStarted();
  h.now += 1500ms;
  h.progress.bytesCopied(3000);
  EXPECT_EQ(h.written, "\r  2.9 KiB  2.0 KiB/s  item 1");
  h.progress.finish();
  EXPECT_EQ(h.written.back(), '\n');
}

// The saving phase shows even when the copies were quick and only the flush
// is slow: the ticker redraws while nothing else reports.
TEST(CopyProgress, TickerShowsASlowFlush) {
  struct Recorder : ProgressView {
    std::mutex mutex;
    std::vector<Phase> shown;
    int ended = 0;
    void show(const ProgressSnapshot& s) override {
      std::lock_guard lock(mutex);
      shown.push_back(s.phase);
    }
    void end() override {
      std::lock_guard lock(mutex);
      ++ended;
    }
  };
  auto view = std::make_shared<Recorder>();
  CopyProgress progress(view, [] { return std::chrono::steady_clock::now(); }, true);
  progress.plan(1, 10);
  progress.copyStarted();
  progress.bytesCopied(10);
  progress.copyFinished();
  progress.savingStarted();
  std::this_thread::sleep_for(1500ms);
  {
    std::lock_guard lock(view->mutex);
    ASSERT_FALSE(view->shown.empty());
    EXPECT_EQ(view->shown.back(), Phase::saving);
  }
  progress.savingFinished();
  progress.finish();
  EXPECT_EQ(view->ended, 1);
}

}  // namespace
}  // namespace platform::linux_platform
