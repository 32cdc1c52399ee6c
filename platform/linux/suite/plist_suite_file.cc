#include "platform/linux/suite/plist_suite_file.h"

#include <cerrno>
#include <ctime>
#include <limits>
#include <string_view>
#include <thread>
#include <algorithm>
#include <chrono>

#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/base/errno_status.h"
#include "platform/linux/base/file_writing.h"
#include "platform/linux/files/atomic_write.h"
#include "platform/linux/suite/plist_nesting.h"

namespace platform::linux_platform {
namespace {

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Refuses whatever is not a regular file: reading a named pipe would wait
// for a writer forever, a device would give bytes without end.
Status RequireRegularMode(const struct stat& st, const std::string& path) {
  if (S_ISREG(st.st_mode)) return Status::OK();
  const char* kind = S_ISFIFO(st.st_mode)   ? "a named pipe"
                     : S_ISSOCK(st.st_mode) ? "a socket"
                     : S_ISCHR(st.st_mode)  ? "a character device"
                     : S_ISBLK(st.st_mode)  ? "a block device"
                     : S_ISDIR(st.st_mode)  ? "a folder"
                                            : "not a regular file";
  return Status::NotSupported(path + " is " + kind + ", not a file; it is left as it is");
}

Status RequireRegularFile(int fd, const std::string& path, struct stat& st) {
  if (::fstat(fd, &st) != 0) return ErrnoStatus("cannot read", path, errno);
  return RequireRegularMode(st, path);
}

// Why `path` could not be opened: a socket, say, cannot be opened at all.
Status CannotOpen(const std::string& path, int err) {
  struct stat st {};
  if (err != ENOENT && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return RequireRegularMode(st, path);
  return ErrnoStatus("cannot open", path, err);
}

// The whole file at `path`; not found when there is none. Opened without
// waiting (a named pipe there must not block), checked to be a regular file
// of at most kMaxSuiteBytes before a byte is read, and read no further.
StatusOr<std::string> ReadWhole(const std::string& path) {
  UniqueFd fd(OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) return CannotOpen(path, errno);
  struct stat st {};
  if (Status regular = RequireRegularFile(fd.get(), path, st); !regular.ok()) return regular;
  if (st.st_size > static_cast<off_t>(kMaxSuiteBytes)) {
    return Status::NotSupported(path + " holds " + std::to_string(st.st_size >> 20) +
                                " MiB; a settings suite of more than " + std::to_string(kMaxSuiteBytes >> 20) +
                                " MiB is not read");
  }
  std::string contents;
  contents.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("cannot read", path, errno);
    }
    if (n == 0) break;
    contents.append(buffer, static_cast<std::size_t>(n));
    if (contents.size() > kMaxSuiteBytes) {
      return Status::NotSupported(path + " grew past " + std::to_string(kMaxSuiteBytes >> 20) +
                                  " MiB while it was read; it is not read");
    }
  }
  return contents;
}

// Whether XML 1.0 can carry the text: valid UTF-8 without the control
// characters it forbids (even as character references).
bool XmlCanCarry(std::string_view text) {
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return false;
  for (unsigned char c : text) {
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return true;
}

// The bytes of the suite file: XML, the form host applications read by
// default; with a carriage return escaped so a parser keeps it (it would
// read a raw one as a line feed). A value XML cannot carry at all (a text
// with a control character) makes the whole file a binary property list,
// which every reader of suites also reads, rather than a file no one can
// parse.
StatusOr<std::string> SuiteFileContents(plist_t root) {
  char* xml = nullptr;
  uint32_t xmlLength = 0;
  plist_to_xml(root, &xml, &xmlLength);
  if (xml == nullptr) return Status::InvalidArgument("the suite cannot be written as XML");
  std::string text(xml, xmlLength);
  plist_to_xml_free(xml);
  if (XmlCanCarry(text)) {
    if (text.find('\r') == std::string::npos) return text;
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
      if (c == '\r') escaped += "&#13;";
      else escaped += c;
    }
    return escaped;
  }
  char* binary = nullptr;
  uint32_t binaryLength = 0;
  plist_to_bin(root, &binary, &binaryLength);
  if (binary == nullptr) return Status::InvalidArgument("the suite cannot be written as a binary property list");
  std::string bytes(binary, binaryLength);
  plist_to_bin_free(binary);
  return bytes;
}

std::string Timestamp() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
  return text;
}

}  // namespace

bool ValidSuiteName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

StatusOr<PlistSuiteFile::Lock> PlistSuiteFile::lock(LockMode mode) const {
  const std::string file = lockPath();
  // A link there is refused, never followed to create a file elsewhere.
  UniqueFd fd(OpenRetrying(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600));
  if (!fd.valid()) {
    if (errno == ELOOP) return Status::NotSupported(file + " is a link; the suite's lock is never taken through one");
    return CannotOpen(file, errno);
  }
  struct stat st {};
  if (Status regular = RequireRegularFile(fd.get(), file, st); !regular.ok()) return regular;
  // Shares and takes hold the lock for milliseconds; one held for longer is
  // held by something that will not let go. Waits in growing steps.
  const int operation = (mode == LockMode::shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  auto pause = std::chrono::milliseconds(1);
  while (::flock(fd.get(), operation) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return ErrnoStatus("cannot lock", file, errno);
    if (std::chrono::steady_clock::now() >= deadline) {
      return Status::IOError("the suite's lock " + file + " has been held by another program for " +
                             std::to_string(kLockWait.count()) + " seconds; gave up waiting");
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
  return Lock(std::move(fd));
}

StatusOr<PlistPtr> PlistSuiteFile::read() const {
  const std::string file = path();
  StatusOr<std::string> contents = ReadWhole(file);
  if (!contents.ok()) return contents.status();
  return ParseSuite(*contents, file);
}

StatusOr<PlistPtr> ParseSuite(std::string_view contents, const std::string& file) {
  if (contents.empty()) return Status::Corruption(file + " is not a settings suite: the file is empty");
  if (contents.size() > kMaxSuiteBytes) return Status::NotSupported(file + " is too large to be read");
  if (!PlistNestingIsSafe(contents)) {
    return Status::Corruption(file + " is not a settings suite: it nests too deep to be read safely");
  }
  const auto length = static_cast<uint32_t>(contents.size());
  plist_t parsed = nullptr;
  if (plist_is_binary(contents.data(), length)) {
    plist_from_bin(contents.data(), length, &parsed);
  } else {
    plist_from_xml(contents.data(), length, &parsed);
  }
  PlistPtr root(parsed);
  if (!root) return Status::Corruption(file + " is not a settings suite: it is not a property list");
  if (plist_get_node_type(parsed) != PLIST_DICT) {
    return Status::Corruption(file + " is not a settings suite: its top level is not a dictionary");
  }
  return root;
}

Status PlistSuiteFile::write(plist_t root, RunJournal* journal) const {
  StatusOr<std::string> contents = SuiteFileContents(root);
  if (!contents.ok()) return contents.status();
  return WriteFileAtomically(path(), *contents, AtomicWriteOptions{.mode = 0600, .syncDirectory = true, .journal = journal, .isSuite = true});
}

Status PlistSuiteFile::moveAside() const {
  const std::string file = path();
  const std::string base = file + ".corrupt-" + Timestamp();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string target = attempt == 0 ? base : base + "-" + std::to_string(attempt);
    if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return Status::OK();
    if (errno != EEXIST) return ErrnoStatus("cannot move aside", file, errno);
  }
  return Status::AlreadyExists("cannot move aside " + file + ": every name for it is taken");
}

}  // namespace platform::linux_platform
