#include "platform/linux/suite/plist_user_defaults.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/linux/suite/plist_suite_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_files.h"

namespace platform::linux_platform {
namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// The suite as a reader sees it: none unless it is a dictionary.
PlistPtr ReadSuite(const fs::path& path) {
  const std::string text = ReadFile(path);
  if (text.empty()) return nullptr;
  plist_t root = nullptr;
  plist_from_memory(text.data(), static_cast<uint32_t>(text.size()), &root);
  PlistPtr owned(root);
  if (!root || plist_get_node_type(root) != PLIST_DICT) return nullptr;
  return owned;
}

std::vector<std::string> StringsAt(plist_t dict, const char* key) {
  std::vector<std::string> out;
  plist_t array = plist_dict_get_item(dict, key);
  if (!array || plist_get_node_type(array) != PLIST_ARRAY) return {"<not an array>"};
  for (uint32_t i = 0; i < plist_array_get_size(array); ++i) {
    char* s = nullptr;
    plist_get_string_val(plist_array_get_item(array, i), &s);
    out.emplace_back(s ? s : "<not a string>");
    free(s);
  }
  return out;
}

std::optional<Data> DataAt(plist_t dict, const char* key) {
  plist_t node = plist_dict_get_item(dict, key);
  if (!node || plist_get_node_type(node) != PLIST_DATA) return std::nullopt;
  char* bytes = nullptr;
  uint64_t length = 0;
  plist_get_data_val(node, &bytes, &length);
  Data out(bytes, bytes + length);
  free(bytes);
  return out;
}

// A suite holding keys that belong to someone else.
std::string ForeignSuite(bool binary) {
  PlistPtr root(plist_new_dict());
  plist_dict_set_item(root.get(), "HostSetting", plist_new_string("keep me"));
  plist_dict_set_item(root.get(), "HostCount", plist_new_uint(42));
  char* out = nullptr;
  uint32_t length = 0;
  if (binary) {
    plist_to_bin(root.get(), &out, &length);
  } else {
    plist_to_xml(root.get(), &out, &length);
  }
  std::string text(out, length);
  free(out);
  return text;
}

void ExpectForeignKeysKept(plist_t dict) {
  char* s = nullptr;
  plist_get_string_val(plist_dict_get_item(dict, "HostSetting"), &s);
  EXPECT_STREQ(s, "keep me");
  free(s);
  uint64_t n = 0;
  plist_get_uint_val(plist_dict_get_item(dict, "HostCount"), &n);
  EXPECT_EQ(n, 42u);
}

std::vector<std::string> DirectoryEntries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The first line a shell command prints; empty when it fails or prints nothing.
std::string FirstLineOf(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  char line[256] = {};
  const bool gotLine = std::fgets(line, sizeof line, pipe) != nullptr;
  const int status = pclose(pipe);
  return gotLine && status == 0 ? std::string(line) : std::string();
}

class PlistUserDefaultsTest : public ::testing::Test {
 protected:
  testsupport::TempDir temp;
  fs::path home = temp.path() / "config";
  fs::path suitePath = home / "group.test.plist";
  PlistUserDefaultsSuites suites{home.string()};
};

TEST_F(PlistUserDefaultsTest, StringListAndBytesReadBackAsArrayAndData) {
  auto suite = suites.initWithSuiteName("group.test");
  ASSERT_TRUE(suite);
  suite->setObject(std::vector<std::string>{"hello", "https://example.com/a?b=c&d", "<&>ü"}, "ShareKey");
  suite->setObject(DataFromString(std::string("[{\"a\":1}]\0x", 11)), "Bytes");
  ASSERT_TRUE(suite->synchronize());

  auto dict = ReadSuite(suitePath);
  ASSERT_TRUE(dict);
  EXPECT_EQ(StringsAt(dict.get(), "ShareKey"),
            (std::vector<std::string>{"hello", "https://example.com/a?b=c&d", "<&>ü"}));
  EXPECT_EQ(DataAt(dict.get(), "Bytes"), DataFromString(std::string("[{\"a\":1}]\0x", 11)));
  EXPECT_EQ(ReadFile(suitePath).rfind("<?xml", 0), 0u) << "written as XML";

  struct stat info{};
  ASSERT_EQ(stat(suitePath.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ASSERT_EQ(stat(home.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
}

TEST_F(PlistUserDefaultsTest, PythonPlistlibReadsTheSuite) {
  auto suite = suites.initWithSuiteName("group.test");
  ASSERT_TRUE(suite);
  suite->setObject(std::vector<std::string>{"one", "two"}, "ShareKey");
  suite->setObject(DataFromString("xyz"), "Blob");
  ASSERT_TRUE(suite->synchronize());

  const std::string command =
      "python3 -c \"import plistlib,sys; d=plistlib.load(open(sys.argv[1],'rb')); "
      "print(d['ShareKey'] == ['one','two'] and d['Blob'] == b'xyz')\" '" + suitePath.string() + "'";
  EXPECT_EQ(FirstLineOf(command), "True\n");
}

// Texts with characters XML cannot carry (or would change) still read back
// exactly, with this suite's own reader and with Python's plistlib.
TEST_F(PlistUserDefaultsTest, TextsWithControlCharactersAndCarriageReturnsReadBackExactly) {
  const std::vector<std::string> crOnly{"line one\r\nline two\r"};
  const std::vector<std::string> control{"bell\x07", "esc\x1b[0m", "tab\tand\rreturn"};
  for (const auto& texts : {crOnly, control}) {
    auto suite = suites.initWithSuiteName("group.test");
    ASSERT_TRUE(suite);
    suite->setObject(texts, "ShareKey");
    ASSERT_TRUE(suite->synchronize());
    auto dict = ReadSuite(suitePath);
    ASSERT_TRUE(dict);
    EXPECT_EQ(StringsAt(dict.get(), "ShareKey"), texts);

    std::string expected = "[";
    for (const auto& t : texts) {
      expected += "'";
      for (unsigned char c : t) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        expected += hex;
      }
      expected += "',";
    }
    expected += "]";
    const std::string command =
        "python3 -c \"import plistlib,sys; d=plistlib.load(open(sys.argv[1],'rb')); "
        "print(d['ShareKey'] == [s.encode('latin-1').decode('unicode_escape') for s in eval(sys.argv[2])])\" '" +
        suitePath.string() + "' \"" + expected + "\"";
    EXPECT_EQ(FirstLineOf(command), "True\n");
  }
  // Only the texts XML cannot carry at all change the file's form.
  EXPECT_NE(ReadFile(suitePath).rfind("bplist", 0), std::string::npos);
}

TEST_F(PlistUserDefaultsTest, OtherKeysOfXmlAndBinarySuitesAreKept) {
  for (const bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "xml");
    fs::create_directories(home);
    WriteFile(suitePath, ForeignSuite(binary));
    auto suite = suites.initWithSuiteName("group.test");
    ASSERT_TRUE(suite);
    suite->setObject(std::vector<std::string>{"first"}, "ShareKey");
    ASSERT_TRUE(suite->synchronize());
    // A second write replaces only its own key.
    suite->setObject(std::vector<std::string>{"second"}, "ShareKey");
    ASSERT_TRUE(suite->synchronize());

    auto dict = ReadSuite(suitePath);
    ASSERT_TRUE(dict);
    ExpectForeignKeysKept(dict.get());
    EXPECT_EQ(StringsAt(dict.get(), "ShareKey"), std::vector<std::string>{"second"});
    EXPECT_EQ(plist_dict_get_size(dict.get()), 3u);
  }
}

TEST_F(PlistUserDefaultsTest, UnparsableSuiteIsMovedAsideNotDestroyed) {
  const std::vector<std::string> broken = {
      "this is not a property list",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key>",
      // parses, but the top level is no dictionary
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>",
      "",
  };
  for (const auto& contents : broken) {
    SCOPED_TRACE(contents);
    testsupport::TempDir dir;
    PlistUserDefaultsSuites local(dir.path().string());
    const fs::path path = dir.path() / "s.plist";
    WriteFile(path, contents);
    auto suite = local.initWithSuiteName("s");
    ASSERT_TRUE(suite);
    suite->setObject(std::vector<std::string>{"fresh"}, "ShareKey");
    ASSERT_TRUE(suite->synchronize());

    auto dict = ReadSuite(path);
    ASSERT_TRUE(dict);
    EXPECT_EQ(StringsAt(dict.get(), "ShareKey"), std::vector<std::string>{"fresh"});
    std::vector<fs::path> aside;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      if (entry.path().filename().string().rfind("s.plist.corrupt-", 0) == 0) aside.push_back(entry.path());
    }
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadFile(aside[0]), contents);
  }
}

TEST_F(PlistUserDefaultsTest, FailedWriteReportsFalseAndLeavesNoTemporaryFile) {
  // A directory where the suite should be: cannot be read or replaced.
  fs::create_directories(suitePath / "inside");
  auto suite = suites.initWithSuiteName("group.test");
  ASSERT_TRUE(suite);
  suite->setObject(std::vector<std::string>{"x"}, "ShareKey");
  EXPECT_FALSE(suite->synchronize());
  EXPECT_TRUE(fs::is_directory(suitePath / "inside"));
  EXPECT_EQ(DirectoryEntries(home), (std::vector<std::string>{".group.test.plist.lock", "group.test.plist"}));
}

// Whatever is not a regular file at the suite's or the lock's path, and a
// suite too large to read, fail the write with why, at once and before a byte
// is read (a device would give bytes without end); the thing stays as it is.
TEST_F(PlistUserDefaultsTest, ASuiteOrLockThatIsNoFileIsRefusedUnread) {
  const fs::path lockPath = home / ".group.test.plist.lock";
  const struct {
    const char* what;
    std::function<void()> make;
    std::function<bool()> untouched;
    const char* why;
  } cases[] = {
      {"a device at the suite", [&] { fs::create_symlink("/dev/zero", suitePath); },
       [&] { return fs::is_symlink(suitePath); }, "is a character device"},
      {"a named pipe at the suite", [&] { ::mkfifo(suitePath.c_str(), 0600); },
       [&] { return fs::is_fifo(suitePath); }, "is a named pipe"},
      {"a suite over the size limit",
       [&] {
         WriteFile(suitePath, "");
         fs::resize_file(suitePath, kMaxSuiteBytes + 1);
       },
       [&] { return fs::file_size(suitePath) == kMaxSuiteBytes + 1; }, "is not read"},
      {"a link at the lock", [&] { fs::create_symlink(temp.path() / "elsewhere", lockPath); },
       [&] { return !fs::exists(temp.path() / "elsewhere"); }, "is a link"},
      {"a named pipe at the lock", [&] { ::mkfifo(lockPath.c_str(), 0600); },
       [&] { return fs::is_fifo(lockPath) && !fs::exists(suitePath); }, "is a named pipe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(home);
    fs::create_directories(home);
    c.make();
    auto suite = suites.initWithSuiteName("group.test");
    ASSERT_TRUE(suite);
    suite->setObject(std::vector<std::string>{"x"}, "ShareKey");
    EXPECT_FALSE(suite->synchronize());
    EXPECT_NE(suite->synchronizeFailure().find(c.why), std::string::npos) << suite->synchronizeFailure();
    EXPECT_TRUE(c.untouched());
  }
}

TEST_F(PlistUserDefaultsTest, SuitesThatCannotBeOpened) {
  for (const char* name : {"", ".", "..", "a/b", "/abs"}) {
    EXPECT_FALSE(suites.initWithSuiteName(name)) << '"' << name << '"';
  }
  // The config home is a regular file, or lies below one.
  WriteFile(temp.path() / "file", "x");
  EXPECT_FALSE(PlistUserDefaultsSuites((temp.path() / "file").string()).initWithSuiteName("s"));
  EXPECT_FALSE(PlistUserDefaultsSuites((temp.path() / "file" / "below").string()).initWithSuiteName("s"));
  // Missing parents are created.
  EXPECT_TRUE(PlistUserDefaultsSuites((temp.path() / "a" / "b" / "c").string()).initWithSuiteName("s"));
  EXPECT_TRUE(fs::is_directory(temp.path() / "a" / "b" / "c"));
}

// Payload of one write: distinct per writer and round, large enough that a
// torn or interleaved write could not pass for another payload.
Data Payload(int writer, int round) {
  std::string text = "writer " + std::to_string(writer) + " round " + std::to_string(round) + ":";
  text.append(static_cast<std::size_t>(3000 + writer * 37 + round), static_cast<char>('a' + (writer + round) % 26));
  return DataFromString(text);
}

constexpr int kProcesses = 3;
constexpr int kThreads = 3;
constexpr int kRounds = 25;

// Returns how many writes failed.
int WriteRounds(const std::string& home, int process) {
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const int writer = process * kThreads + t;
      PlistUserDefaultsSuites suites(home);
      for (int round = 0; round < kRounds; ++round) {
        auto suite = suites.initWithSuiteName("group.shared");
        if (!suite) {
          ++failures;
          continue;
        }
        suite->setObject(Payload(writer, round), "ShareKey");
        // A key of each writer's own: a read-modify-write that skipped the
        // lock would drop some of them.
        suite->setObject(std::vector<std::string>{std::to_string(round)}, "Writer" + std::to_string(writer));
        if (!suite->synchronize()) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  return failures;
}

TEST(PlistUserDefaultsConcurrency, ProcessesAndThreadsNeverTearOrLoseTheSuite) {
  testsupport::TempDir temp;
  const std::string home = temp.path().string();
  const fs::path path = temp.path() / "group.shared.plist";
  WriteFile(path, ForeignSuite(false));

  std::set<Data> payloads;
  for (int w = 0; w < kProcesses * kThreads; ++w) {
    for (int r = 0; r < kRounds; ++r) payloads.insert(Payload(w, r));
  }

  // Fork before this process starts any thread of its own.
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(WriteRounds(home, p) == 0 ? 0 : 1);
    children.push_back(pid);
  }

  int reads = 0;
  int badReads = 0;
  std::vector<int> statuses;
  for (;;) {
    auto dict = ReadSuite(path);
    ++reads;
    if (!dict || !plist_dict_get_item(dict.get(), "HostSetting")) {
      ++badReads;
    } else if (auto value = DataAt(dict.get(), "ShareKey"); value && !payloads.count(*value)) {
      ++badReads;
    }
    bool running = false;
    for (pid_t& pid : children) {
      if (pid == 0) continue;
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        statuses.push_back(status);
        pid = 0;
      } else {
        running = true;
      }
    }
    if (!running) break;
  }
  EXPECT_EQ(badReads, 0) << "of " << reads << " reads";
  ASSERT_EQ(statuses.size(), static_cast<std::size_t>(kProcesses));
  for (int status : statuses) EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  auto dict = ReadSuite(path);
  ASSERT_TRUE(dict);
  ExpectForeignKeysKept(dict.get());
  auto value = DataAt(dict.get(), "ShareKey");
  ASSERT_TRUE(value);
  EXPECT_TRUE(payloads.count(*value));
  for (int w = 0; w < kProcesses * kThreads; ++w) {
    EXPECT_EQ(StringsAt(dict.get(), ("Writer" + std::to_string(w)).c_str()),
              std::vector<std::string>{std::to_string(kRounds - 1)});
  }
  // Only the suite and its lock: no temporary file survives.
  EXPECT_EQ(DirectoryEntries(temp.path()), (std::vector<std::string>{".group.shared.plist.lock", "group.shared.plist"}));
}

}  // namespace
}  // namespace platform::linux_platform
