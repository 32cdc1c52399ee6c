#include "platform/linux/copy_progress.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace platform::linux_platform {
namespace {

using namespace std::chrono_literals;

// A progress line driven by a hand-set clock, collecting what it writes.
struct ProgressHarness {
  std::chrono::steady_clock::time_point now{};
  std::string written;
  CopyProgress progress{true, [this](std::string_view text) { written += text; },
                        [this] { return now; }};
};

TEST(CopyProgress, FormatsBytesRateAndFiles) {
  EXPECT_EQ(CopyProgress::FormatLine(std::uint64_t{3} << 29, 5s, 2),
            "Copied 1.5 GiB (307.2 MiB/s), 2 files");
  EXPECT_EQ(CopyProgress::FormatLine(512, 1s, 1), "Copied 512 B (512 B/s), 1 file");
  EXPECT_EQ(CopyProgress::FormatLine(0, 0s, 0), "Copied 0 B (0 B/s), 0 files");
}

TEST(CopyProgress, QuietDuringTheFirstSecondThenRedrawsAFewTimesASecond) {
  ProgressHarness h;
  h.progress.copyStarted();
  h.now += 900ms;
  h.progress.bytesCopied(1024);
  EXPECT_EQ(h.written, "");

  h.now += 200ms;  // 1.1 s in
  h.progress.bytesCopied(1024);
  EXPECT_EQ(h.written, "\rCopied 2.0 KiB (1.8 KiB/s), 0 files");

  h.now += 100ms;  // too soon to redraw
  h.progress.bytesCopied(1024);
  h.progress.fileCopied();
  EXPECT_EQ(h.written, "\rCopied 2.0 KiB (1.8 KiB/s), 0 files");

  h.now += 300ms;
  h.progress.bytesCopied(1024);
  EXPECT_EQ(h.written.substr(h.written.rfind('\r')), "\rCopied 4.0 KiB (2.7 KiB/s), 1 file ");

  h.progress.copyFinished();
  ASSERT_FALSE(h.written.empty());
  EXPECT_EQ(h.written.back(), '\n');
  EXPECT_EQ(std::count(h.written.begin(), h.written.end(), '\n'), 1);
}

TEST(CopyProgress, ShortCopyPrintsNothingAtAll) {
  ProgressHarness h;
  h.progress.copyStarted();
  h.now += 300ms;
  h.progress.bytesCopied(1 << 20);
  h.progress.fileCopied();
  h.progress.copyFinished();
  EXPECT_EQ(h.written, "");
}

TEST(CopyProgress, ConcurrentCopiesShareOneLineEndedByTheLast) {
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
  EXPECT_EQ(h.written, "\rCopied 2.9 KiB (2.0 KiB/s), 0 files");
  h.progress.copyFinished();
}

TEST(CopyProgress, DisabledWritesNothing) {
  std::chrono::steady_clock::time_point now{};
  std::string written;
  CopyProgress progress(false, [&](std::string_view text) { written += text; }, [&] { return now; });
  progress.copyStarted();
  now += 10s;
  progress.bytesCopied(1 << 30);
  progress.fileCopied();
  progress.copyFinished();
  EXPECT_EQ(written, "");
}

}  // namespace
}  // namespace platform::linux_platform
