#include "platform/linux/suite/plist_user_defaults.h"

#include <algorithm>

#include <glib.h>
#include <plist/plist.h>
#include <sys/stat.h>

#include "platform/linux/suite/plist_suite_file.h"
#include "platform/status_or.h"

namespace platform::linux_platform {
namespace {

plist_t NodeFor(const PropertyListValue& value) {
  if (const auto* strings = std::get_if<std::vector<std::string>>(&value)) {
    plist_t array = plist_new_array();
    for (const auto& s : *strings) plist_array_append_item(array, plist_new_string(s.c_str()));
    return array;
  }
  const auto& bytes = std::get<Data>(value);
  return plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The suite's dictionary as it is now: a fresh one when there is no file yet
// or the file does not parse (it is then kept aside, never destroyed).
StatusOr<PlistPtr> ReadSuiteOrStartOne(const PlistSuiteFile& suite) {
  StatusOr<PlistPtr> root = suite.read();
  if (root.ok()) return root;
  switch (root.status().code()) {
    case Status::Code::kNotFound:
      return PlistPtr(plist_new_dict());
    case Status::Code::kCorruption:
      if (Status aside = suite.moveAside(); !aside.ok()) return aside;
      return PlistPtr(plist_new_dict());
    default:
      // Could be a perfectly good suite we may not read; leave it alone.
      return root.status();
  }
}

}  // namespace

PlistUserDefaults::PlistUserDefaults(std::string directory, std::string name, std::shared_ptr<RunJournal> journal)
    : directory_(std::move(directory)), name_(std::move(name)), journal_(std::move(journal)) {}

std::string SuitePath(const std::string& directory, const std::string& name) {
  return PlistSuiteFile(directory, name).path();
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
  if (Status written = writeStaged(); !written.ok()) {
    failure_ = written.message();
    return false;
  }
  failure_.clear();
  staged_.clear();
  return true;
}

std::string PlistUserDefaults::synchronizeFailure() const {
  std::lock_guard lock(mutex_);
  return failure_;
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
  const PlistSuiteFile suite(directory_, name_);
  StatusOr<PlistSuiteFile::Lock> suiteLock = suite.lock(PlistSuiteFile::LockMode::exclusive);
  if (!suiteLock.ok()) return suiteLock.status();

  StatusOr<PlistPtr> root = ReadSuiteOrStartOne(suite);
  if (!root.ok()) return root.status();
  for (const auto& [key, value] : staged_) plist_dict_set_item(root->get(), key.c_str(), NodeFor(value));
  return suite.write(root->get(), journal_.get());
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
