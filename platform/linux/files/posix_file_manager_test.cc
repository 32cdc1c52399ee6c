#include "platform/linux/files/posix_file_manager.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/linux/files/file_copier.h"
#include "platform/linux/files/file_data_copy.h"
#include "platform/linux/files/run_journal.h"
#include "platform/linux/base/unique_fd.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_files.h"

namespace {
std::atomic<int> syncfsCalls{0};
}  // namespace

// Every syncfs of this test binary is counted here: the file manager comes
// from a static library, so its call is linked to this definition, which
// then does what the C library's does.
extern "C" int syncfs(int fd) noexcept {
  syncfsCalls.fetch_add(1);
  return static_cast<int>(::syscall(SYS_syncfs, fd));
}

namespace platform::linux_platform {
namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

testing::AssertionResult Contains(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "\"" << text << "\" does not contain \"" << part << "\"";
}

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

URL FileURL(const fs::path& path) { return URL::fileURLWithPath(path.string()); }

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

long PeakRSSKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A file manager whose progress line is off, over a fresh data home.
class PosixFileManagerTest : public testing::Test {
 protected:
  PosixFileManagerTest()
      : manager_(tmp_.path() / "data",
                 {std::make_shared<CopyProgress>(false, [](std::string_view) {},
                                                 [] { return std::chrono::steady_clock::now(); }),
                  SyncMethod::kChooseByUnwrittenData, nullptr}) {
    fs::create_directories(root());
  }
  fs::path root() const { return tmp_.path() / "work"; }

  testsupport::TempDir tmp_;
  PosixFileManager manager_;
};

// --- the container -------------------------------------------------------

TEST_F(PosixFileManagerTest, ContainerIsCreatedOwnerOnlyAndReturnedAsDirectoryURL) {
  const auto url = manager_.containerURLForSecurityApplicationGroupIdentifier("group.example.app");
  ASSERT_TRUE(url.has_value());
  const fs::path expected = tmp_.path() / "data" / "group-containers" / "group.example.app";
  EXPECT_EQ(url->path(), expected.string());
  EXPECT_EQ(url->absoluteString().back(), '/');
  EXPECT_TRUE(fs::is_directory(expected));
  EXPECT_EQ(ModeOf(expected), 0700u);
  EXPECT_EQ(ModeOf(expected.parent_path()), 0700u);
  EXPECT_EQ(ModeOf(tmp_.path() / "data"), 0700u);

  // A second call finds the same directory and leaves what is in it.
  WriteFile(expected / "kept", "x");
  const auto again = manager_.containerURLForSecurityApplicationGroupIdentifier("group.example.app");
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(again->path(), url->path());
  EXPECT_TRUE(fs::exists(expected / "kept"));
}

// A umask that takes the owner's own bits would leave a container its owner
// cannot write into.
TEST_F(PosixFileManagerTest, ContainerIsOwnerOnlyWhateverTheUmask) {
  const mode_t previous = ::umask(0277);
  const auto url = manager_.containerURLForSecurityApplicationGroupIdentifier("group.example.umask");
  ::umask(previous);
  ASSERT_TRUE(url.has_value());
  EXPECT_EQ(ModeOf(url->path()), 0700u);
  EXPECT_EQ(ModeOf(fs::path(url->path()).parent_path()), 0700u);
}

TEST_F(PosixFileManagerTest, ContainerRefusesIdentifiersThatLeaveItsFolder) {
  for (const std::string bad : {"", ".", "..", "a/b", "/abs", "../up"}) {
    EXPECT_FALSE(manager_.containerURLForSecurityApplicationGroupIdentifier(bad).has_value())
        << "'" << bad << "'";
  }
  EXPECT_FALSE(fs::exists(tmp_.path() / "data" / "group-containers" / "a"));
  EXPECT_FALSE(fs::exists(tmp_.path() / "up"));
}

TEST_F(PosixFileManagerTest, ContainerThatIsAFileIsNoneAndSaysWhy) {
  fs::create_directories(tmp_.path() / "data" / "group-containers");
  WriteFile(tmp_.path() / "data" / "group-containers" / "taken", "not a folder");
  std::vector<std::pair<std::string, bool>> told;
  PosixFileManager manager((tmp_.path() / "data").string(),
                           {.tell = [&](const std::string& line, bool important) { told.emplace_back(line, important); }});
  EXPECT_FALSE(manager.containerURLForSecurityApplicationGroupIdentifier("taken").has_value());
  EXPECT_FALSE(manager.containerURLForSecurityApplicationGroupIdentifier("taken").has_value());  // said once
  ASSERT_EQ(told.size(), 1u);
  EXPECT_TRUE(told[0].second);
  EXPECT_NE(told[0].first.find("Not a directory"), std::string::npos) << told[0].first;
}

TEST_F(PosixFileManagerTest, AnExistingContainerOpenToOthersIsSetBackToOwnerOnly) {
  const fs::path container = tmp_.path() / "data" / "group-containers" / "open";
  fs::create_directories(container);
  fs::permissions(container, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
  std::vector<std::pair<std::string, bool>> told;
  PosixFileManager manager((tmp_.path() / "data").string(),
                           {.tell = [&](const std::string& line, bool important) { told.emplace_back(line, important); }});
  ASSERT_TRUE(manager.containerURLForSecurityApplicationGroupIdentifier("open").has_value());
  EXPECT_EQ(ModeOf(container), 0700u);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_FALSE(told[0].second);  // said with -v only
  EXPECT_NE(told[0].first.find("0755"), std::string::npos) << told[0].first;
}

// Sets an environment variable for one test and puts the old value back.
// --- existence and removal -------------------------------------------------

TEST_F(PosixFileManagerTest, DanglingLinkExistsMissingPathDoesNot) {
  fs::create_symlink(root() / "nowhere", root() / "dangling");
  EXPECT_TRUE(manager_.fileExistsAtPath((root() / "dangling").string()));
  EXPECT_FALSE(manager_.fileExistsAtPath((root() / "nowhere").string()));
}

TEST_F(PosixFileManagerTest, RemoveTakesTreesAndLinksButNeverWhatLinksPointTo) {
  fs::create_directories(root() / "outside");
  WriteFile(root() / "outside" / "precious", "keep");
  fs::create_directories(root() / "tree" / "sub" / "deeper");
  WriteFile(root() / "tree" / "sub" / "deeper" / "f", "x");
  fs::create_directory_symlink(root() / "outside", root() / "tree" / "sub" / "link");
  fs::create_directory_symlink(root() / "outside", root() / "toplink");

  EXPECT_TRUE(manager_.removeItemAtURL(FileURL(root() / "tree")).ok());
  EXPECT_TRUE(manager_.removeItemAtURL(FileURL(root() / "toplink")).ok());
  EXPECT_FALSE(fs::exists(fs::symlink_status(root() / "tree")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root() / "toplink")));
  EXPECT_EQ(ReadFile(root() / "outside" / "precious"), "keep");

  const Status missing = manager_.removeItemAtURL(FileURL(root() / "tree"));
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.code(), Status::Code::kNotFound);
}

// --- copying ---------------------------------------------------------------

TEST_F(PosixFileManagerTest, CopiesAFileWithItsContentAndPermissions) {
  // Bits the umask (022 here) keeps, bits it would take away, read-only.
  const mode_t previous = ::umask(022);
  for (mode_t mode : {0640u, 0666u, 0444u}) {
    const std::string name = std::to_string(mode);
    WriteFile(root() / name, "hello, world");
    ::chmod((root() / name).c_str(), mode);
    ASSERT_TRUE(manager_.copyItemAtURL(FileURL(root() / name), FileURL(root() / (name + ".copy"))).ok());
    EXPECT_EQ(ReadFile(root() / (name + ".copy")), "hello, world");
    EXPECT_EQ(ModeOf(root() / (name + ".copy")), mode) << name;
  }
  ::umask(previous);

  WriteFile(root() / "empty", "");
  ASSERT_TRUE(manager_.copyItemAtURL(FileURL(root() / "empty"), FileURL(root() / "empty2")).ok());
  EXPECT_EQ(fs::file_size(root() / "empty2"), 0u);
}

// A 64 MiB file with data scattered through holes; the copy must match and
// must not pull the file into this process.
// A sparse file larger than one in-kernel copy call moves (64 MiB), with a
// marker every 3 MiB and one in its very last bytes: a copy that stops after
// the first call differs.
// Dense, with no holes, so that it takes the copy loop (several 64 MiB
// in-kernel calls, or the buffer), not the path that copies only the data
// ranges of a sparse file. Each MiB holds its own letter and offset.
fs::path MakeLargeFile(const fs::path& path) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  EXPECT_TRUE(fd.valid());
  constexpr off_t kSize = (off_t{70} << 20) + 123;
  std::string block(std::size_t{1} << 20, '\0');
  for (off_t at = 0; at < kSize; at += static_cast<off_t>(block.size())) {
    std::fill(block.begin(), block.end(), static_cast<char>('a' + (at >> 20) % 26));
    const std::string marker = "block at " + std::to_string(at);
    std::copy(marker.begin(), marker.end(), block.begin());
    const auto size = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(block.size()), kSize - at));
    EXPECT_EQ(::pwrite(fd.get(), block.data(), size, at), static_cast<ssize_t>(size));
  }
  return path;
}

bool SameContent(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> bx(1 << 16), by(1 << 16);
  while (x && y) {
    x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
    y.read(by.data(), static_cast<std::streamsize>(by.size()));
    if (x.gcount() != y.gcount() || !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin())) {
      return false;
    }
  }
  return x.eof() && y.eof();
}

TEST_F(PosixFileManagerTest, LargeFileIsStreamedNotRead) {
  const fs::path big = MakeLargeFile(root() / "big");
  const long before = PeakRSSKiB();
  ASSERT_TRUE(manager_.copyItemAtURL(FileURL(big), FileURL(root() / "big.copy")).ok());
  EXPECT_LT(PeakRSSKiB() - before, 16 * 1024);
  EXPECT_EQ(fs::file_size(root() / "big.copy"), fs::file_size(big));
  EXPECT_TRUE(SameContent(big, root() / "big.copy"));
}

TEST_F(PosixFileManagerTest, ReadWriteFallbackStreamsThroughASmallBuffer) {
  const fs::path big = MakeLargeFile(root() / "big");
  UniqueFd in(::open(big.c_str(), O_RDONLY));
  UniqueFd out(::open((root() / "big.copy").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
  const long before = PeakRSSKiB();
  ASSERT_TRUE(CopyFileData(in.get(), out.get(), big.string(), nullptr, false).ok());
  EXPECT_LT(PeakRSSKiB() - before, 16 * 1024);
  out.reset();
  EXPECT_TRUE(SameContent(big, root() / "big.copy"));
}

// Links that stay inside the folder are copied as links; one that leads out
// of it is left out (and said), so the copy never reaches outside.
TEST_F(PosixFileManagerTest, TreeCopyKeepsInnerLinksAsLinksAndFollowsNone) {
  fs::create_directories(root() / "outside");
  WriteFile(root() / "outside" / "secret", "not to be copied");
  fs::create_directories(root() / "src" / "sub");
  WriteFile(root() / "src" / "top.txt", "top");
  WriteFile(root() / "src" / "sub" / "inner.txt", "inner");
  ::chmod((root() / "src" / "sub").c_str(), 0750);
  fs::create_directory_symlink(root() / "outside", root() / "src" / "sub" / "out");
  fs::create_symlink("inner.txt", root() / "src" / "sub" / "relative");

  fs::create_symlink("../sub/../top.txt", root() / "src" / "sub" / "around");
  fs::create_symlink("../../outside/secret", root() / "src" / "sub" / "up");

  std::vector<std::string> leftOut;
  PosixFileManager manager(root().string(), {.linkLeftOut = [&](const std::string& link, const std::string& target) {
                                                leftOut.push_back(link + " -> " + target);
                                              }});
  ASSERT_TRUE(manager.copyItemAtURL(FileURL(root() / "src"), FileURL(root() / "dst")).ok());
  EXPECT_EQ(ReadFile(root() / "dst" / "top.txt"), "top");
  EXPECT_EQ(ReadFile(root() / "dst" / "sub" / "inner.txt"), "inner");
  EXPECT_EQ(ModeOf(root() / "dst" / "sub"), 0750u);
  EXPECT_EQ(fs::read_symlink(root() / "dst" / "sub" / "relative"), "inner.txt");
  EXPECT_EQ(ReadFile(root() / "dst" / "sub" / "around"), "top");
  EXPECT_EQ(Names(root() / "dst" / "sub"), (std::vector<std::string>{"around", "inner.txt", "relative"}));
  std::sort(leftOut.begin(), leftOut.end());
  EXPECT_EQ(leftOut, (std::vector<std::string>{(root() / "src" / "sub" / "out").string() + " -> " +
                                                   (root() / "outside").string(),
                                               (root() / "src" / "sub" / "up").string() + " -> ../../outside/secret"}));
}

TEST_F(PosixFileManagerTest, LinkGivenAsTheSourceIsFollowed) {
  WriteFile(root() / "real.txt", "real");
  fs::create_symlink(root() / "real.txt", root() / "link.txt");
  fs::create_directories(root() / "realdir");
  WriteFile(root() / "realdir" / "f", "f");
  fs::create_directory_symlink(root() / "realdir", root() / "linkdir");

  ASSERT_TRUE(manager_.copyItemAtURL(FileURL(root() / "link.txt"), FileURL(root() / "c.txt")).ok());
  EXPECT_FALSE(fs::is_symlink(root() / "c.txt"));
  EXPECT_EQ(ReadFile(root() / "c.txt"), "real");
  ASSERT_TRUE(manager_.copyItemAtURL(FileURL(root() / "linkdir"), FileURL(root() / "cdir")).ok());
  EXPECT_FALSE(fs::is_symlink(root() / "cdir"));
  EXPECT_EQ(ReadFile(root() / "cdir" / "f"), "f");
}

TEST_F(PosixFileManagerTest, CopyRefusesBadSourcesAndDestinations) {
  WriteFile(root() / "a", "a");
  WriteFile(root() / "b", "b");

  const Status exists = manager_.copyItemAtURL(FileURL(root() / "a"), FileURL(root() / "b"));
  EXPECT_FALSE(exists.ok());
  EXPECT_EQ(exists.code(), Status::Code::kAlreadyExists);
  EXPECT_EQ(ReadFile(root() / "b"), "b");

  const Status missing = manager_.copyItemAtURL(FileURL(root() / "gone"), FileURL(root() / "c"));
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.code(), Status::Code::kNotFound);
  EXPECT_TRUE(Contains(missing.message(), (root() / "gone").string()));

  const Status self = manager_.copyItemAtURL(FileURL(root() / "a"), FileURL(root() / "a"));
  EXPECT_FALSE(self.ok());
  EXPECT_EQ(self.code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(ReadFile(root() / "a"), "a");

  const Status noParent =
      manager_.copyItemAtURL(FileURL(root() / "a"), FileURL(root() / "no" / "such" / "c"));
  EXPECT_FALSE(noParent.ok());
  EXPECT_EQ(noParent.code(), Status::Code::kNotFound);
  EXPECT_EQ(Names(root()), (std::vector<std::string>{"a", "b"}));

  // A file URL naming another machine is never read as a local path.
  const URL remote = *URL::URLWithString("file://elsewhere" + (root() / "a").string());
  const Status notLocal = manager_.copyItemAtURL(remote, FileURL(root() / "c"));
  EXPECT_EQ(notLocal.code(), Status::Code::kNotSupported) << notLocal.message();
  const Status notLocalPlaced =
      manager_.copyItemIntoPlace(remote, FileURL(root() / "c"), FileURL(root() / ".incoming-c"));
  EXPECT_EQ(notLocalPlaced.code(), Status::Code::kNotSupported) << notLocalPlaced.message();
  EXPECT_EQ(Names(root()), (std::vector<std::string>{"a", "b"}));
}

TEST_F(PosixFileManagerTest, FolderIsNotCopiedIntoItselfEvenThroughALink) {
  fs::create_directories(root() / "src" / "sub");
  WriteFile(root() / "src" / "f", "f");
  fs::create_directory_symlink(root() / "src", root() / "alias");

  for (const fs::path& dst : {root() / "src" / "copy", root() / "src" / "sub" / "copy",
                              root() / "alias" / "sub" / "copy"}) {
    const Status status = manager_.copyItemAtURL(FileURL(root() / "src"), FileURL(dst));
    EXPECT_FALSE(status.ok()) << dst;
    EXPECT_EQ(status.code(), Status::Code::kInvalidArgument) << dst;
  }
  EXPECT_EQ(Names(root() / "src"), (std::vector<std::string>{"f", "sub"}));
  EXPECT_TRUE(fs::is_empty(root() / "src" / "sub"));
}

TEST_F(PosixFileManagerTest, NamedPipeIsRefusedWithoutWaitingForAWriter) {
  ASSERT_EQ(::mkfifo((root() / "pipe").c_str(), 0600), 0);
  const Status status = manager_.copyItemAtURL(FileURL(root() / "pipe"), FileURL(root() / "copy"));
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(status.code(), Status::Code::kNotSupported);
  EXPECT_FALSE(fs::exists(fs::symlink_status(root() / "copy")));
}

TEST_F(PosixFileManagerTest, FailedTreeCopyLeavesNothingBehind) {
  fs::create_directories(root() / "src" / "a" / "b");
  for (int i = 0; i < 5; ++i) WriteFile(root() / "src" / "a" / ("f" + std::to_string(i)), "x");
  // Root reads anything; a pipe deep in the tree is what stops this copy.
  ASSERT_EQ(::mkfifo((root() / "src" / "a" / "b" / "zz-pipe").c_str(), 0600), 0);

  const Status status = manager_.copyItemAtURL(FileURL(root() / "src"), FileURL(root() / "dst"));
  EXPECT_FALSE(status.ok());
  EXPECT_TRUE(Contains(status.message(), "zz-pipe"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root() / "dst")));
  EXPECT_TRUE(fs::exists(fs::symlink_status(root() / "src" / "a" / "b" / "zz-pipe")));
}

// --- replacing -------------------------------------------------------------

TEST_F(PosixFileManagerTest, ReplacePutsTheNewItemInPlaceOfWhateverIsThere) {
  WriteFile(root() / "new1", "one");
  ASSERT_TRUE(manager_.replaceItemAtURL(FileURL(root() / "item"), FileURL(root() / "new1")).ok());
  EXPECT_EQ(ReadFile(root() / "item"), "one");

  WriteFile(root() / "new2", "two");
  ASSERT_TRUE(manager_.replaceItemAtURL(FileURL(root() / "item"), FileURL(root() / "new2")).ok());
  EXPECT_EQ(ReadFile(root() / "item"), "two");

  fs::create_directories(root() / "folder" / "deep");
  WriteFile(root() / "folder" / "deep" / "f", "old");
  WriteFile(root() / "new3", "three");
  ASSERT_TRUE(manager_.replaceItemAtURL(FileURL(root() / "folder"), FileURL(root() / "new3")).ok());
  EXPECT_EQ(ReadFile(root() / "folder"), "three");

  fs::create_directories(root() / "newdir");
  WriteFile(root() / "newdir" / "g", "g");
  ASSERT_TRUE(manager_.replaceItemAtURL(FileURL(root() / "item"), FileURL(root() / "newdir")).ok());
  EXPECT_EQ(ReadFile(root() / "item" / "g"), "g");

  EXPECT_EQ(Names(root()), (std::vector<std::string>{"folder", "item"}));
}

TEST_F(PosixFileManagerTest, ReplaceSwapsOutALinkAndLeavesItsTargetAlone) {
  WriteFile(root() / "target", "target");
  fs::create_symlink(root() / "target", root() / "item");
  WriteFile(root() / "new", "new");
  ASSERT_TRUE(manager_.replaceItemAtURL(FileURL(root() / "item"), FileURL(root() / "new")).ok());
  EXPECT_FALSE(fs::is_symlink(root() / "item"));
  EXPECT_EQ(ReadFile(root() / "item"), "new");
  EXPECT_EQ(ReadFile(root() / "target"), "target");
}

TEST_F(PosixFileManagerTest, FailedReplaceLeavesTheOriginal) {
  WriteFile(root() / "item", "original");
  const Status status =
      manager_.replaceItemAtURL(FileURL(root() / "item"), FileURL(root() / "missing"));
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(status.code(), Status::Code::kNotFound);
  EXPECT_EQ(ReadFile(root() / "item"), "original");
}

// A copy put into place leaves no name but its own behind, and is made
// without one unless the place is taken or the source is a folder: the run
// record then names no temporary that a crash could leave.
TEST_F(PosixFileManagerTest, CopyIntoPlaceLeavesOnlyTheItemAndNamesATemporaryOnlyWhenNeeded) {
  WriteFile(root() / "file", "new");
  ::chmod((root() / "file").c_str(), 0640);
  fs::create_directories(root() / "folder");
  WriteFile(root() / "folder" / "inner", "inner");
  struct Case {
    const char* name;
    const char* source;
    std::function<void(const fs::path&)> before;  // what the place holds
    bool temporaryNamed;
  };
  const std::vector<Case> cases = {
      {"empty place", "file", [](const fs::path&) {}, false},
      {"file there", "file", [](const fs::path& item) { WriteFile(item, "old"); }, true},
      {"folder there", "file", [](const fs::path& item) { fs::create_directories(item / "sub"); }, true},
      {"folder copied", "folder", [](const fs::path&) {}, true},
  };
  for (const Case& c : cases) {
    const fs::path home = tmp_.path() / c.name;
    const std::shared_ptr<RunJournal> journal = RunJournal::Start((home / "state").string());
    ASSERT_NE(journal, nullptr);
    PosixFileManager manager((home / "data").string(), {nullptr, SyncMethod::kFileSystem, journal});
    const fs::path dir = home / "place";
    fs::create_directories(dir);
    c.before(dir / "item");
    ASSERT_TRUE(manager.copyItemIntoPlace(FileURL(root() / c.source), FileURL(dir / "item"),
                                          FileURL(dir / ".incoming")).ok()) << c.name;
    EXPECT_EQ(Names(dir), std::vector<std::string>{"item"}) << c.name;
    if (std::string(c.source) == "file") {
      EXPECT_EQ(ReadFile(dir / "item"), "new") << c.name;
      EXPECT_EQ(ModeOf(dir / "item"), 0640u) << c.name;
    } else {
      EXPECT_EQ(ReadFile(dir / "item" / "inner"), "inner") << c.name;
    }
    EXPECT_EQ(Contains(ReadFile(journal->recordPath()), "T " + (dir / ".incoming").string()), c.temporaryNamed)
        << c.name;
    EXPECT_TRUE(Contains(ReadFile(journal->recordPath()), (dir / "item").string())) << c.name;
  }

  // A failed copy leaves the original and no temporary.
  fs::create_directories(root() / "place");
  WriteFile(root() / "place" / "item", "original");
  EXPECT_FALSE(manager_.copyItemIntoPlace(FileURL(root() / "missing"), FileURL(root() / "place" / "item"),
                                          FileURL(root() / "place" / ".incoming")).ok());
  EXPECT_EQ(Names(root() / "place"), std::vector<std::string>{"item"});
  EXPECT_EQ(ReadFile(root() / "place" / "item"), "original");
}

std::size_t OpenFileCount() {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// Told which files the share will copy, the manager copies them ahead into
// unnamed files. Whatever the share does with the list (copies in order,
// leaves some out, meets a missing file, a folder or a taken place), each
// place gets exactly its own source's bytes, no other name appears, and the
// copies never taken are gone with the manager. The last copy starts a flush
// in the background, which the final one waits for.
TEST_F(PosixFileManagerTest, CopiesMadeAheadGoOnlyWhereTheShareCopiesAndInOrder) {
  std::vector<std::string> expected;
  for (int i = 0; i < 40; ++i) {
    const fs::path source = root() / ("f" + std::to_string(i));
    WriteFile(source, std::string(static_cast<std::size_t>(i * 997), static_cast<char>('a' + i % 26)));
    expected.push_back(source.string());
  }
  fs::create_directories(root() / "folder");
  WriteFile(root() / "folder" / "inner", "inner");
  expected.insert(expected.begin() + 5, (root() / "folder").string());
  expected.insert(expected.begin() + 9, (root() / "missing").string());
  const std::size_t filesBefore = OpenFileCount();
  const fs::path container = tmp_.path() / "data" / "group-containers" / "shared";
  {
    PosixFileManager manager((tmp_.path() / "data").string(), {nullptr, SyncMethod::kFileSystem, nullptr, expected});
    const auto place = manager.containerURLForSecurityApplicationGroupIdentifier("shared");
    ASSERT_TRUE(place);
    WriteFile(container / "f12", "taken");
    std::vector<std::string> placed;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const std::string name = fs::path(expected[i]).filename();
      if (name == "f3" || (name >= "f20" && name < "f25")) continue;  // left out by the share
      const Status copied = manager.copyItemIntoPlace(FileURL(expected[i]), place->appendingPathComponent(name),
                                                      place->appendingPathComponent(".incoming-" + name));
      EXPECT_EQ(copied.ok(), name != "missing") << name << ": " << copied.message();
      if (copied.ok()) placed.push_back(name);
    }
    std::sort(placed.begin(), placed.end());
    EXPECT_EQ(Names(container), placed);
    for (const std::string& name : placed) {
      if (name == "folder") continue;
      EXPECT_EQ(ReadFile(container / name), ReadFile(root() / name)) << name;
    }
    EXPECT_EQ(ReadFile(container / "folder" / "inner"), "inner");
    EXPECT_TRUE(manager.synchronizeWrittenItems().ok());
  }
  EXPECT_EQ(OpenFileCount(), filesBefore);
}

// The unnamed files this process holds open in `dir`: copies made ahead and
// not yet linked in.
int UnnamedFilesOpenIn(const fs::path& dir) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = fs::read_symlink(entry.path(), ec).string();
    if (!ec && target.starts_with(dir.string() + "/#") && target.ends_with(" (deleted)")) ++count;
  }
  return count;
}

// Once the share has placed its first file, the next one is copied ahead on
// another thread, and the share links that very copy in: the source may be
// gone by the time the share reaches it.
TEST_F(PosixFileManagerTest, TheNextFileIsCopiedAheadAndThatCopyIsLinkedIn) {
  const std::vector<std::string> names = {"first", "second"};
  std::vector<std::string> expected;
  for (const std::string& name : names) {
    WriteFile(root() / name, name + " contents");
    expected.push_back((root() / name).string());
  }
  PosixFileManager manager((tmp_.path() / "data").string(), {nullptr, SyncMethod::kFileSystem, nullptr, expected});
  const auto place = manager.containerURLForSecurityApplicationGroupIdentifier("ahead");
  ASSERT_TRUE(place);
  const auto copy = [&](const std::string& name) {
    return manager.copyItemIntoPlace(FileURL(root() / name), place->appendingPathComponent(name),
                                     place->appendingPathComponent(".incoming-" + name));
  };
  ASSERT_TRUE(copy("first").ok());
  const fs::path container = place->path();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (UnnamedFilesOpenIn(container) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(UnnamedFilesOpenIn(container), 1) << "nothing was copied ahead";
  fs::remove(root() / "second");
  const Status second = copy("second");
  ASSERT_TRUE(second.ok()) << second.message();
  EXPECT_EQ(ReadFile(container / "second"), "second contents");
  EXPECT_EQ(UnnamedFilesOpenIn(container), 0);
  EXPECT_EQ(Names(container), names);
}

// --- writing ---------------------------------------------------------------

TEST_F(PosixFileManagerTest, AtomicWriteLeavesOnlyTheFinishedFile) {
  ASSERT_TRUE(manager_.writeData(DataFromString("first"), FileURL(root() / "f.json"), true).ok());
  ::chmod((root() / "f.json").c_str(), 0644);
  // A reader that opened the file before the write goes on reading the old
  // contents whole: the new ones arrive as another file, never over the old.
  std::ifstream reader(root() / "f.json", std::ios::binary);
  ASSERT_TRUE(manager_.writeData(DataFromString("second"), FileURL(root() / "f.json"), true).ok());
  std::stringstream seen;
  seen << reader.rdbuf();
  EXPECT_EQ(seen.str(), "first");
  EXPECT_EQ(ReadFile(root() / "f.json"), "second");
  EXPECT_EQ(ModeOf(root() / "f.json"), 0644u);
  EXPECT_EQ(Names(root()), std::vector<std::string>{"f.json"});
}

TEST_F(PosixFileManagerTest, FailedAtomicWriteRemovesItsTemporaryFile) {
  fs::create_directories(root() / "occupied" / "child");
  const Status status =
      manager_.writeData(DataFromString("x"), FileURL(root() / "occupied"), true);
  EXPECT_FALSE(status.ok());
  EXPECT_TRUE(Contains(status.message(), (root() / "occupied").string()));
  EXPECT_EQ(Names(root()), std::vector<std::string>{"occupied"});
  EXPECT_TRUE(fs::is_directory(root() / "occupied" / "child"));
}

TEST_F(PosixFileManagerTest, PlainWriteTruncates) {
  WriteFile(root() / "f", "a much longer old text");
  ASSERT_TRUE(manager_.writeData(DataFromString("short"), FileURL(root() / "f"), false).ok());
  EXPECT_EQ(ReadFile(root() / "f"), "short");
}

// --- durability and threads ------------------------------------------------

TEST_F(PosixFileManagerTest, SynchronizeSucceedsWithEachMethodAfterMovesAndRemovals) {
  fs::create_directories(root() / "tree" / "sub");
  WriteFile(root() / "tree" / "sub" / "f", "f");
  fs::create_symlink("f", root() / "tree" / "sub" / "l");
  for (SyncMethod method : {SyncMethod::kChooseByUnwrittenData, SyncMethod::kFileSystem, SyncMethod::kEachItem}) {
    const fs::path home = tmp_.path() / std::to_string(static_cast<int>(method));
    PosixFileManager manager(home.string(), {std::make_shared<CopyProgress>(
                                                 false, [](std::string_view) {},
                                                 [] { return std::chrono::steady_clock::now(); }),
                                             method, nullptr});
    const auto container = manager.containerURLForSecurityApplicationGroupIdentifier("g");
    ASSERT_TRUE(container.has_value());
    const fs::path dir = container->path();
    ASSERT_TRUE(manager.copyItemAtURL(FileURL(root() / "tree"), FileURL(dir / ".tmp-tree")).ok());
    ASSERT_TRUE(manager.replaceItemAtURL(FileURL(dir / "tree"), FileURL(dir / ".tmp-tree")).ok());
    ASSERT_TRUE(manager.writeData(DataFromString("x"), FileURL(dir / "gone"), true).ok());
    ASSERT_TRUE(manager.removeItemAtURL(FileURL(dir / "gone")).ok());
    // Many items, flushed side by side.
    for (int i = 0; i < 80; ++i) {
      ASSERT_TRUE(manager.writeData(DataFromString("n"), FileURL(dir / ("n" + std::to_string(i))), true).ok());
    }
    EXPECT_TRUE(manager.synchronizeWrittenItems().ok());
    EXPECT_TRUE(manager.synchronizeWrittenItems().ok());  // nothing left to do
    EXPECT_EQ(ReadFile(dir / "tree" / "sub" / "f"), "f");
  }
}

// The whole file system is flushed with one syncfs; item by item, with none.
TEST_F(PosixFileManagerTest, FileSystemFlushIsOneSyncfsAndItemFlushNone) {
  WriteFile(root() / "f", "f");
  for (SyncMethod method : {SyncMethod::kFileSystem, SyncMethod::kEachItem}) {
    const fs::path home = tmp_.path() / ("sync" + std::to_string(static_cast<int>(method)));
    PosixFileManager manager(home.string(), {nullptr, method, nullptr});
    const auto container = manager.containerURLForSecurityApplicationGroupIdentifier("g");
    ASSERT_TRUE(container.has_value());
    ASSERT_TRUE(manager.copyItemIntoPlace(FileURL(root() / "f"), container->appendingPathComponent("f"),
                                          container->appendingPathComponent(".incoming-f")).ok());
    const int before = syncfsCalls.load();
    ASSERT_TRUE(manager.synchronizeWrittenItems().ok());
    EXPECT_EQ(syncfsCalls.load() - before, method == SyncMethod::kFileSystem ? 1 : 0) << static_cast<int>(method);
  }
}

// A file written whole over one already there is recorded as replacing it, so
// that should this run die, the sweep keeps it (an earlier share may name it).
TEST_F(PosixFileManagerTest, AtomicWriteOverAFileIsRecordedAsAReplacement) {
  const std::shared_ptr<RunJournal> journal = RunJournal::Start((tmp_.path() / "state").string());
  ASSERT_NE(journal, nullptr);
  PosixFileManager manager((tmp_.path() / "journaled").string(), {nullptr, SyncMethod::kFileSystem, journal});
  const auto container = manager.containerURLForSecurityApplicationGroupIdentifier("g");
  ASSERT_TRUE(container.has_value());
  const fs::path fresh = fs::path(container->path()) / "fresh.jpg";
  const fs::path over = fs::path(container->path()) / "over.jpg";
  WriteFile(over, "from an earlier share");
  ASSERT_TRUE(manager.writeData(DataFromString("new"), FileURL(fresh), true).ok());
  ASSERT_TRUE(manager.writeData(DataFromString("new"), FileURL(over), true).ok());
  const std::string record = ReadFile(journal->recordPath());
  const auto lineFor = [&](char kind, const fs::path& path) {
    std::istringstream lines(record);
    for (std::string line; std::getline(lines, line);) {
      if (line[0] == kind && line.ends_with(" " + path.string())) return true;
    }
    return false;
  };
  EXPECT_TRUE(lineFor('N', fresh)) << record;
  EXPECT_FALSE(lineFor('R', fresh)) << record;
  EXPECT_TRUE(lineFor('R', over)) << record;
}

// A container renamed away mid-run got the copies in its new place: the
// batch must not be reported durable under the old names.
TEST_F(PosixFileManagerTest, SynchronizeFailsWhenTheContainerWasMovedAway) {
  WriteFile(root() / "f", "f");
  const auto container = manager_.containerURLForSecurityApplicationGroupIdentifier("moved");
  ASSERT_TRUE(container.has_value());
  const URL tmp = container->appendingPathComponent(".tmp");
  ASSERT_TRUE(manager_.copyItemAtURL(FileURL(root() / "f"), tmp).ok());
  ASSERT_TRUE(manager_.replaceItemAtURL(container->appendingPathComponent("f"), tmp).ok());
  fs::rename(container->path(), fs::path(container->path()).string() + ".elsewhere");
  EXPECT_FALSE(manager_.synchronizeWrittenItems().ok());
  // The items of a failed flush are kept for the next one, which must not
  // call them durable while nothing has changed.
  EXPECT_FALSE(manager_.synchronizeWrittenItems().ok());
  fs::rename(fs::path(container->path()).string() + ".elsewhere", container->path());
  EXPECT_TRUE(manager_.synchronizeWrittenItems().ok());
}

TEST_F(PosixFileManagerTest, ManyThreadsCopyIntoOneContainer) {
  constexpr int kThreads = 8;
  constexpr int kFilesEach = 25;
  for (int t = 0; t < kThreads; ++t) {
    WriteFile(root() / ("src" + std::to_string(t)), std::string(10000 + t, static_cast<char>('a' + t)));
  }
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const auto container = manager_.containerURLForSecurityApplicationGroupIdentifier("shared");
      if (!container) {
        ++failures;
        return;
      }
      for (int i = 0; i < kFilesEach; ++i) {
        const std::string name = std::to_string(t) + "-" + std::to_string(i);
        const URL tmp = container->appendingPathComponent("." + name);
        const URL src = FileURL(root() / ("src" + std::to_string(t)));
        // Half the threads copy into an unnamed file put straight into place.
        const bool copied =
            t % 2 == 0 ? manager_.copyItemIntoPlace(src, container->appendingPathComponent(name), tmp).ok()
                       : manager_.copyItemAtURL(src, tmp).ok() &&
                             manager_.replaceItemAtURL(container->appendingPathComponent(name), tmp).ok();
        if (!copied) ++failures;
      }
      if (!manager_.synchronizeWrittenItems().ok()) ++failures;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  const fs::path container = tmp_.path() / "data" / "group-containers" / "shared";
  EXPECT_EQ(Names(container).size(), static_cast<std::size_t>(kThreads * kFilesEach));
  EXPECT_EQ(ReadFile(container / "3-7"), std::string(10003, 'd'));
}

TEST_F(PosixFileManagerTest, LongCopyReportsProgressOnOneLine) {
  // Each look at the clock is half a second later, so the copy is "long".
  auto now = std::make_shared<std::chrono::steady_clock::time_point>();
  std::string written;
  auto progress = std::make_shared<CopyProgress>(
      true, [&](std::string_view text) { written += text; },
      [now] { return *now += std::chrono::milliseconds(500); });
  PosixFileManager manager((tmp_.path() / "data").string(), {progress, SyncMethod::kChooseByUnwrittenData, nullptr});
  fs::create_directories(root() / "src");
  for (int i = 0; i < 4; ++i) WriteFile(root() / "src" / std::to_string(i), std::string(1000, 'x'));
  ASSERT_TRUE(manager.copyItemAtURL(FileURL(root() / "src"), FileURL(root() / "dst")).ok());
  EXPECT_EQ(written.front(), '\r');
  EXPECT_EQ(written.back(), '\n');
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1);
  EXPECT_TRUE(Contains(written, "3.9 KiB"));
  EXPECT_TRUE(Contains(written, "item 1"));
}

}  // namespace
}  // namespace platform::linux_platform
