#include "platform/linux/plist_suite_file.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <string_view>

#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/file_tree.h"
#include "platform/linux/plist_nesting.h"

namespace platform::linux_platform {
namespace {

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
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

std::string Timestamp() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
  return text;
}

bool SyncDirectory(const std::string& directory) {
  UniqueFd dir(OpenRetrying(directory.c_str(), O_RDONLY | O_DIRECTORY));
  return dir.valid() && ::fsync(dir.get()) == 0;
}

}  // namespace

Status PlistSuiteFile::lock(LockMode mode, Lock& lock, bool* directoryMissing) const {
  const std::string file = lockPath();
  UniqueFd fd(OpenRetrying(file.c_str(), O_RDWR | O_CREAT, 0600));
  if (!fd.valid()) {
    if (directoryMissing) *directoryMissing = errno == ENOENT;
    return Status::Error("cannot open the lock " + file + ": " + std::strerror(errno));
  }
  int locked;
  do {
    locked = ::flock(fd.get(), mode == LockMode::shared ? LOCK_SH : LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) return Status::Error("cannot lock " + file + ": " + std::strerror(errno));
  lock = Lock(std::move(fd));
  return Status::OK();
}

PlistSuiteFile::ReadOutcome PlistSuiteFile::read(PlistPtr& root, std::string* error) const {
  const std::string file = path();
  UniqueFd fd(OpenRetrying(file.c_str(), O_RDONLY));
  if (!fd.valid()) {
    if (errno == ENOENT) return ReadOutcome::missing;
    if (error) *error = std::strerror(errno);
    return ReadOutcome::unreadable;
  }
  std::string contents;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (error) *error = std::strerror(errno);
      return ReadOutcome::unreadable;
    }
    if (n == 0) break;
    contents.append(buffer, static_cast<std::size_t>(n));
  }
  if (contents.empty() || contents.size() > std::numeric_limits<uint32_t>::max()) {
    if (error) *error = contents.empty() ? "the file is empty" : "the file is too large";
    return ReadOutcome::unparsable;
  }
  if (!PlistNestingIsSafe(contents)) {
    if (error) *error = "it nests too deep to be read safely";
    return ReadOutcome::unparsable;
  }
  const auto length = static_cast<uint32_t>(contents.size());
  plist_t parsed = nullptr;
  if (plist_is_binary(contents.data(), length)) {
    plist_from_bin(contents.data(), length, &parsed);
  } else {
    plist_from_xml(contents.data(), length, &parsed);
  }
  PlistPtr owned(parsed);
  if (!owned || plist_get_node_type(parsed) != PLIST_DICT) {
    if (error) *error = owned ? "its top level is not a dictionary" : "it is not a property list";
    return ReadOutcome::unparsable;
  }
  root = std::move(owned);
  return ReadOutcome::ok;
}

Status PlistSuiteFile::write(plist_t root) const {
  const std::optional<std::string> contents = SuiteFileContents(root);
  if (!contents) return Status::Error("cannot write the suite as a property list");

  std::string tempPath = directory_ + "/." + name_ + ".plist.XXXXXX";
  UniqueFd temp(::mkostemp(tempPath.data(), O_CLOEXEC));
  if (!temp.valid()) return Status::Error("cannot create a file in " + directory_ + ": " + std::strerror(errno));
  const std::string target = path();
  const bool written = ::fchmod(temp.get(), 0600) == 0 && WriteAll(temp.get(), contents->data(), contents->size()) &&
                       ::fsync(temp.get()) == 0 && ::close(temp.release()) == 0 &&
                       ::rename(tempPath.c_str(), target.c_str()) == 0;
  if (!written) {
    const int error = errno;
    ::unlink(tempPath.c_str());
    return Status::Error("cannot replace " + target + ": " + std::strerror(error));
  }
  // The rename is only durable once the directory entry is.
  if (!SyncDirectory(directory_)) return Status::Error("cannot flush " + directory_ + ": " + std::strerror(errno));
  return Status::OK();
}

bool PlistSuiteFile::moveAside() const {
  const std::string file = path();
  const std::string base = file + ".corrupt-" + Timestamp();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string target = attempt == 0 ? base : base + "-" + std::to_string(attempt);
    if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace platform::linux_platform
