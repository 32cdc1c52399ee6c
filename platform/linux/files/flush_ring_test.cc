#include "platform/linux/files/flush_ring.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/linux/base/unique_fd.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_files.h"

namespace platform::linux_platform {
namespace {

namespace fs = std::filesystem;

// cachestat(2), Linux 6.5 on: how many of a file's cached pages still wait to
// be written, or are being written. Not in this system's headers yet.
struct CacheStatRange {
  std::uint64_t offset;
  std::uint64_t length;  // 0: to the end
};
struct CacheStat {
  std::uint64_t cached, dirty, writeback, evicted, recentlyEvicted;
};
constexpr long kCacheStatCall = 451;

std::optional<std::uint64_t> UnwrittenPages(const fs::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  CacheStatRange range{0, 0};
  CacheStat stat{};
  if (!fd.valid() || ::syscall(kCacheStatCall, fd.get(), &range, &stat, 0) != 0) return std::nullopt;
  return stat.dirty + stat.writeback;
}

// More files than the ring keeps under way, so its slots are reused; among
// them a folder, a link and a name that is gone, as a share's records hold.
TEST(FlushThroughRingTest, EveryFileIsWrittenOutAndAnItemThatCannotBeOpenedIsReported) {
  testsupport::TempDir tmp;
  const fs::path dir = tmp.path();
  struct statfs fileSystem {};
  ASSERT_EQ(::statfs(dir.c_str(), &fileSystem), 0);
  if (fileSystem.f_type == TMPFS_MAGIC) GTEST_SKIP() << "files in memory are never written out";

  std::vector<std::string> names;
  for (int i = 0; i < 600; ++i) {
    names.push_back("f" + std::to_string(i));
    testsupport::WriteFile(dir / names.back(), std::string(8192, static_cast<char>('a' + i % 26)) + names.back());
  }
  fs::create_directory(dir / "sub");
  testsupport::WriteFile(dir / "sub" / "inner", "inner");
  fs::create_symlink("f0", dir / "link");
  for (const char* other : {"sub", "link", "gone"}) names.emplace_back(other);

  std::uint64_t unwrittenBefore = 0;
  for (int i = 0; i < 600; ++i) {
    const std::optional<std::uint64_t> pages = UnwrittenPages(dir / names[i]);
    if (!pages) GTEST_SKIP() << "this kernel cannot tell which pages are unwritten (cachestat)";
    unwrittenBefore += *pages;
  }
  ASSERT_GT(unwrittenBefore, 300U) << "the kernel wrote the files out before the test could";

  const UniqueFd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::vector<std::string> paths;
  for (const std::string& name : names) paths.push_back((dir / name).string());
  std::vector<FlushItem> items;
  for (std::size_t i = 0; i < names.size(); ++i) items.push_back({folder.get(), names[i], &paths[i]});

  const std::optional<Status> flushed = FlushThroughRing(items);
  if (!flushed) GTEST_SKIP() << "this kernel or process has no io_uring";
  ASSERT_TRUE(flushed->ok()) << flushed->message();
  for (int i = 0; i < 600; ++i) EXPECT_EQ(UnwrittenPages(dir / names[i]), 0U) << names[i];

  // An item of a folder that cannot be opened, in the middle of the rest.
  const std::string elsewhere = (dir / "elsewhere" / "x").string();
  items.insert(items.begin() + 300, FlushItem{-1, "x", &elsewhere});
  const std::optional<Status> failed = FlushThroughRing(items);
  ASSERT_TRUE(failed.has_value());
  EXPECT_FALSE(failed->ok());
  EXPECT_NE(failed->message().find("cannot open " + elsewhere), std::string::npos) << failed->message();
}

}  // namespace
}  // namespace platform::linux_platform
