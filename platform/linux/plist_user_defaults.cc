#include "platform/linux/plist_user_defaults.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string_view>

#include <fcntl.h>
#include <glib.h>
#include <plist/plist.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/errno_status.h"
#include "platform/linux/file_writing.h"
#include "platform/linux/unique_fd.h"
#include "platform/status_or.h"
#include "platform/linux/unique_fd.h"

namespace platform::linux_platform {
namespace {

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The whole file at `path`; not found when there is none.
StatusOr<std::string> ReadWhole(const std::string& path) {
  UniqueFd fd(OpenRetrying(path.c_str(), O_RDONLY));
  if (!fd.valid()) return ErrnoStatus("cannot open", path, errno);
  std::string contents;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("cannot read", path, errno);
    }
    if (n == 0) break;
    contents.append(buffer, static_cast<std::size_t>(n));
  }
  return contents;
}

// The top-level dictionary of a suite file, or none when it is not one.
PlistPtr ParseSuite(const std::string& contents) {
  if (contents.empty() || contents.size() > std::numeric_limits<uint32_t>::max()) return nullptr;
  const auto length = static_cast<uint32_t>(contents.size());
  plist_t root = nullptr;
  if (plist_is_binary(contents.data(), length)) {
    plist_from_bin(contents.data(), length, &root);
  } else {
    plist_from_xml(contents.data(), length, &root);
  }
  PlistPtr owned(root);
  if (!owned || plist_get_node_type(root) != PLIST_DICT) return nullptr;
  return owned;
}

plist_t NodeFor(const PropertyListValue& value) {
  if (const auto* strings = std::get_if<std::vector<std::string>>(&value)) {
    plist_t array = plist_new_array();
    for (const auto& s : *strings) plist_array_append_item(array, plist_new_string(s.c_str()));
    return array;
  }
  const auto& bytes = std::get<Data>(value);
  return plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
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

// Keeps an unreadable suite beside the fresh one, under a name no other
// suite or earlier corrupt copy has.
Status MoveAside(const std::string& path) {
  const std::string base = path + ".corrupt-" + Timestamp();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string target = attempt == 0 ? base : base + "-" + std::to_string(attempt);
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return Status::OK();
    if (errno != EEXIST) return ErrnoStatus("cannot move aside", path, errno);
  }
  return Status::AlreadyExists("cannot move aside " + path + ": every name for it is taken");
}

// Takes the advisory lock every writer of the suite holds while it reads and
// replaces it; released when the descriptor is closed.
StatusOr<UniqueFd> LockFile(const std::string& lockPath) {
  UniqueFd fd(OpenRetrying(lockPath.c_str(), O_RDWR | O_CREAT, 0600));
  if (!fd.valid()) return ErrnoStatus("cannot open", lockPath, errno);
  int locked;
  do {
    locked = ::flock(fd.get(), LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) return ErrnoStatus("cannot lock", lockPath, errno);
  return fd;
}

// The suite's dictionary as it is now: a fresh one when there is no file yet
// or the file does not parse (it is then kept aside, never destroyed).
StatusOr<PlistPtr> ReadSuiteOrStartOne(const std::string& path) {
  StatusOr<std::string> contents = ReadWhole(path);
  if (!contents.ok()) {
    // Could be a perfectly good suite we may not read; leave it alone.
    if (!contents.status().IsNotFound()) return contents.status();
    return PlistPtr(plist_new_dict());
  }
  if (PlistPtr root = ParseSuite(*contents)) return root;
  if (Status aside = MoveAside(path); !aside.ok()) return aside;
  return PlistPtr(plist_new_dict());
}

bool ValidSuiteName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
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

}  // namespace

PlistUserDefaults::PlistUserDefaults(std::string directory, std::string name, std::shared_ptr<RunJournal> journal)
    : directory_(std::move(directory)), name_(std::move(name)), journal_(std::move(journal)) {}

std::string SuitePath(const std::string& directory, const std::string& name) {
  return directory + "/" + name + ".plist";
}

std::string PlistUserDefaults::path() const { return SuitePath(directory_, name_); }

void PlistUserDefaults::setObject(const PropertyListValue& value, const std::string& key) {
  std::lock_guard lock(mutex_);
  staged_[key] = value;
}

bool PlistUserDefaults::synchronize() {
  std::lock_guard lock(mutex_);
  if (staged_.empty()) return true;
  // The interface tells only whether it worked; the staged values stay for
  // the next attempt.
  if (!writeStaged().ok()) return false;
  staged_.clear();
  return true;
}

Status PlistUserDefaults::writeStaged() {
  for (const auto& [key, value] : staged_) {
    const auto* strings = std::get_if<std::vector<std::string>>(&value);
    if (key.find('\0') != std::string::npos ||
        (strings && std::any_of(strings->begin(), strings->end(),
                                [](const std::string& s) { return s.find('\0') != std::string::npos; }))) {
      return Status::InvalidArgument("a text holding a NUL character cannot be stored whole in the suite");
    }
  }
  // The suite itself is replaced by rename, so the lock lives on a file that
  // never is; every writer of this suite takes it before reading.
  StatusOr<UniqueFd> suiteLock = LockFile(directory_ + "/." + name_ + ".plist.lock");
  if (!suiteLock.ok()) return suiteLock.status();

  const std::string suitePath = path();
  StatusOr<PlistPtr> root = ReadSuiteOrStartOne(suitePath);
  if (!root.ok()) return root.status();
  for (const auto& [key, value] : staged_) plist_dict_set_item(root->get(), key.c_str(), NodeFor(value));

  StatusOr<std::string> file = SuiteFileContents(root->get());
  if (!file.ok()) return file.status();
  return WriteFileAtomically(
      suitePath, *file,
      AtomicWriteOptions{.mode = 0600, .syncDirectory = true, .journal = journal_.get(), .isSuite = true});
}

std::string PlistUserDefaultsSuites::pathForSuiteName(const std::string& suiteName) const {
  return SuitePath(configHome_, suiteName);
}

std::unique_ptr<NSUserDefaults> PlistUserDefaultsSuites::initWithSuiteName(const std::string& suiteName) {
  if (!ValidSuiteName(suiteName) || configHome_.empty()) return nullptr;
  if (g_mkdir_with_parents(configHome_.c_str(), 0700) != 0) return nullptr;
  struct stat info{};
  if (::stat(configHome_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return nullptr;
  return std::make_unique<PlistUserDefaults>(configHome_, suiteName, journal_);
}

}  // namespace platform::linux_platform
