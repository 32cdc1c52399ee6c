// halvernsignet-share: shares texts, links, photos, movies and files with the
// halvernsignet application on this desktop.
#include "app/command_line.h"
#include "app/extension_host.h"
#include "halvernsignet_build_config.h"
#include "share/app_group.h"

#include <malloc.h>
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// A share of thousands of items makes tens of thousands of small buffers, on
// several threads, and buffers of a megabyte or more (the list as JSON, the
// suite's text). Page faults are what that memory costs most: about 10 µs
// each on a virtual machine, where a 10,000-file share took 6,500 of them.
// So for a command line of kWordsForLargeShare words or more, before any
// thread allocates:
// - all threads allocate from one heap (each thread's own heap would be
//   faulted in page by page, and the share's threads take turns anyway);
// - freed memory is kept for reuse instead of handed back to the kernel and
//   faulted in again;
// - the heap's first megabytes are asked for in 2 MiB pages where the system
//   offers them (transparent huge pages "madvise" or "always"): one fault
//   per 2 MiB instead of one per 4 KiB.
// A 10,000-file share then takes 550-750 faults, and 10% less time. Smaller
// shares keep glibc's defaults, which give a movie's preview a peak 4 MiB
// lower.
constexpr int kWordsForLargeShare = 1000;
// Heap asked for in 2 MiB pages per word of the command line, and at most
// (below the mmap threshold set here, so it comes from the heap itself).
constexpr std::size_t kHugeHeapPerWord = 2048;
constexpr std::size_t kHugeHeapAtMost = std::size_t{60} << 20;
constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;

void PrepareMemoryForLargeShares(int words) {
  if (words < kWordsForLargeShare) return;
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
  // Grow the heap, mark its 2 MiB-aligned part, and give it back to malloc,
  // which keeps it (the trim threshold above) for what comes next.
  const std::size_t bytes = std::min(static_cast<std::size_t>(words) * kHugeHeapPerWord, kHugeHeapAtMost);
  void* block = std::malloc(bytes);
  if (block == nullptr) return;
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t begin = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (start + bytes) & ~(kHugePage - 1);
  if (end > begin) (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  std::free(block);
}

}  // namespace

int main(int argc, char** argv) {
  PrepareMemoryForLargeShares(argc);
  app::CommandLineContext context;
  context.appGroupIdentifier = halvernsignet_mobile_Share::AppGroupIdentifierFor(build_config::kHostAppBundleIdentifier);
  context.version = build_config::kVersion;
  const app::ParseResult parsed = app::ParseCommandLine(argc, argv, context);
  if (parsed.action != app::ParseResult::Action::run) return parsed.exitStatus;
#ifdef HALVERNSIGNET_SHARE_TEST_BUILD
  // The test build only: each file copied takes this much longer, so that a
  // share of small files runs long enough to be watched or stopped.
  const char* delay = std::getenv("HALVERNSIGNET_SHARE_TEST_COPY_DELAY_MS");
  return app::RunShare(parsed.request, std::chrono::milliseconds(delay ? std::strtol(delay, nullptr, 10) : 0));
#else
  return app::RunShare(parsed.request);
#endif
}
