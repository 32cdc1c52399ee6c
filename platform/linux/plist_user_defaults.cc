#include "platform/linux/plist_user_defaults.h"

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <limits>
#include <optional>
#include <string_view>

#include <fcntl.h>
#include <glib.h>
#include <plist/plist.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/file_tree.h"
#include "platform/linux/unique_fd.h"

namespace platform::linux_platform {
namespace {

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

enum class ReadStatus { ok, missing, failed };

ReadStatus ReadWhole(const std::string& path, std::string& contents) {
  UniqueFd fd(OpenRetrying(path.c_str(), O_RDONLY));
  if (!fd.valid()) return errno == ENOENT ? ReadStatus::missing : ReadStatus::failed;
  contents.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ReadStatus::failed;
    }
    if (n == 0) break;
    contents.append(buffer, static_cast<std::size_t>(n));
  }
  return ReadStatus::ok;
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
bool MoveAside(const std::string& path) {
  const std::string base = path + ".corrupt-" + Timestamp();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string target = attempt == 0 ? base : base + "-" + std::to_string(attempt);
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

bool SyncDirectory(const std::string& directory) {
  UniqueFd dir(OpenRetrying(directory.c_str(), O_RDONLY | O_DIRECTORY));
  return dir.valid() && ::fsync(dir.get()) == 0;
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
std::optional<std::string> SuiteFileContents(plist_t root) {
  char* xml = nullptr;
  uint32_t xmlLength = 0;
  plist_to_xml(root, &xml, &xmlLength);
  if (xml == nullptr) return std::nullopt;
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
  if (binary == nullptr) return std::nullopt;
  std::string bytes(binary, binaryLength);
  plist_to_bin_free(binary);
  return bytes;
}

}  // namespace

std::string DefaultConfigHome() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (IsAbsolute(config)) return config;
  const char* home = std::getenv("HOME");
  std::string base;
  if (home != nullptr && home[0] != '\0') {
    base = home;
  } else if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    base = entry->pw_dir;
  } else {
    base = "/";
  }
  if (base.back() != '/') base += '/';
  return base + ".config";
}

PlistUserDefaults::PlistUserDefaults(std::string directory, std::string name)
    : directory_(std::move(directory)), name_(std::move(name)) {}

std::string PlistUserDefaults::path() const { return directory_ + "/" + name_ + ".plist"; }

void PlistUserDefaults::setObject(const PropertyListValue& value, const std::string& key) {
  std::lock_guard lock(mutex_);
  staged_[key] = value;
}

bool PlistUserDefaults::synchronize() {
  std::lock_guard lock(mutex_);
  if (staged_.empty()) return true;

  // The suite itself is replaced by rename, so the lock lives on a file that
  // never is; every writer of this suite takes it before reading.
  const std::string lockPath = directory_ + "/." + name_ + ".plist.lock";
  UniqueFd lockFd(OpenRetrying(lockPath.c_str(), O_RDWR | O_CREAT, 0600));
  if (!lockFd.valid()) return false;
  int locked;
  do {
    locked = ::flock(lockFd.get(), LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) return false;

  const std::string suitePath = path();
  std::string contents;
  PlistPtr root;
  switch (ReadWhole(suitePath, contents)) {
    case ReadStatus::failed:
      // Could be a perfectly good suite we may not read; leave it alone.
      return false;
    case ReadStatus::missing:
      break;
    case ReadStatus::ok:
      root = ParseSuite(contents);
      if (!root && !MoveAside(suitePath)) return false;
      break;
  }
  if (!root) root.reset(plist_new_dict());

  for (const auto& [key, value] : staged_) plist_dict_set_item(root.get(), key.c_str(), NodeFor(value));

  const std::optional<std::string> file = SuiteFileContents(root.get());
  if (!file) return false;

  std::string tempPath = directory_ + "/." + name_ + ".plist.XXXXXX";
  UniqueFd temp(::mkostemp(tempPath.data(), O_CLOEXEC));
  if (!temp.valid()) return false;
  const bool written = ::fchmod(temp.get(), 0600) == 0 && WriteAll(temp.get(), file->data(), file->size()) &&
                       ::fsync(temp.get()) == 0 && ::close(temp.release()) == 0 &&
                       ::rename(tempPath.c_str(), suitePath.c_str()) == 0;
  if (!written) {
    ::unlink(tempPath.c_str());
    return false;
  }
  // The rename is only durable once the directory entry is.
  if (!SyncDirectory(directory_)) return false;
  staged_.clear();
  return true;
}

std::unique_ptr<NSUserDefaults> PlistUserDefaultsSuites::initWithSuiteName(const std::string& suiteName) {
  if (!ValidSuiteName(suiteName) || configHome_.empty()) return nullptr;
  if (g_mkdir_with_parents(configHome_.c_str(), 0700) != 0) return nullptr;
  struct stat info{};
  if (::stat(configHome_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return nullptr;
  return std::make_unique<PlistUserDefaults>(configHome_, suiteName);
}

}  // namespace platform::linux_platform
