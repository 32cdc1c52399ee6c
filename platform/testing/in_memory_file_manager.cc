#include "platform/testing/in_memory_file_manager.h"

namespace platform::testing {
namespace {

bool IsUnder(const std::string& path, const std::string& directory) {
  return path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 &&
         path[directory.size()] == '/';
}

std::string Parent(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

}  // namespace

InMemoryFileManager::InMemoryFileManager(std::string containersRoot) : containersRoot_(std::move(containersRoot)) {
  entries_[containersRoot_] = Entry{true, {}};
}

std::string InMemoryFileManager::containerPath(const std::string& groupIdentifier) const {
  return containersRoot_ + "/" + groupIdentifier;
}

void InMemoryFileManager::record(std::string call) { calls_.push_back(std::move(call)); }

bool InMemoryFileManager::existsLocked(const std::string& path) const { return entries_.count(path) > 0; }

void InMemoryFileManager::eraseTreeLocked(const std::string& path) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->first == path || IsUnder(it->first, path)) it = entries_.erase(it);
    else ++it;
  }
}

std::optional<URL> InMemoryFileManager::containerURLForSecurityApplicationGroupIdentifier(
    const std::string& groupIdentifier) {
  std::lock_guard lock(mutex_);
  record("container " + groupIdentifier);
  if (!containerAvailable_) return std::nullopt;
  const std::string path = containerPath(groupIdentifier);
  entries_[path] = Entry{true, {}};
  return URL::fileURLWithPath(path, /*isDirectory=*/true);
}

bool InMemoryFileManager::fileExistsAtPath(const std::string& path) {
  std::lock_guard lock(mutex_);
  record("exists " + path);
  return existsLocked(path);
}

Status InMemoryFileManager::removeItemAtURL(const URL& url) {
  std::lock_guard lock(mutex_);
  record("remove " + url.path());
  if (!existsLocked(url.path())) return Status::NotFound("No such file or directory");
  eraseTreeLocked(url.path());
  return Status::OK();
}

Status InMemoryFileManager::copyItemAtURL(const URL& src, const URL& dst) {
  std::lock_guard lock(mutex_);
  const std::string from = src.path(), to = dst.path();
  record("copy " + from + " " + to);
  if (auto failure = copyFailures_.find(from); failure != copyFailures_.end()) {
    return Status::IOError(failure->second);
  }
  if (!existsLocked(from)) return Status::NotFound("No such file or directory");
  if (existsLocked(to)) return Status::AlreadyExists("File exists");
  if (to == from || IsUnder(to, from)) return Status::InvalidArgument("cannot copy a directory into itself");
  if (!existsLocked(Parent(to))) return Status::NotFound("No such file or directory");
  std::map<std::string, Entry> copies;
  for (const auto& [path, entry] : entries_) {
    if (path == from) copies[to] = entry;
    else if (IsUnder(path, from)) copies[to + path.substr(from.size())] = entry;
  }
  entries_.insert(copies.begin(), copies.end());
  return Status::OK();
}

Status InMemoryFileManager::replaceItemAtURL(const URL& originalItemURL, const URL& newItemURL) {
  std::lock_guard lock(mutex_);
  const std::string original = originalItemURL.path(), replacement = newItemURL.path();
  record("replace " + original + " " + replacement);
  if (replaceFailure_) return Status::IOError(*replaceFailure_);
  if (!existsLocked(replacement)) return Status::NotFound("No such file or directory");
  eraseTreeLocked(original);
  std::map<std::string, Entry> moved;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->first == replacement || IsUnder(it->first, replacement)) {
      moved[original + it->first.substr(replacement.size())] = it->second;
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  entries_.insert(moved.begin(), moved.end());
  return Status::OK();
}

Status InMemoryFileManager::writeData(const Data& data, const URL& url, bool atomically) {
  std::lock_guard lock(mutex_);
  record(std::string("write ") + url.path() + (atomically ? " atomically" : ""));
  if (writeFailure_) return Status::IOError(*writeFailure_);
  if (!existsLocked(Parent(url.path()))) return Status::NotFound("No such file or directory");
  entries_[url.path()] = Entry{false, std::string(data.begin(), data.end())};
  return Status::OK();
}

Status InMemoryFileManager::synchronizeWrittenItems() {
  std::lock_guard lock(mutex_);
  record("synchronize");
  return Status::OK();
}

void InMemoryFileManager::addFile(const std::string& path, const std::string& contents) {
  std::lock_guard lock(mutex_);
  for (std::string dir = Parent(path); !existsLocked(dir); dir = Parent(dir)) entries_[dir] = Entry{true, {}};
  entries_[path] = Entry{false, contents};
}

void InMemoryFileManager::addDirectory(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (std::string dir = path; !existsLocked(dir); dir = Parent(dir)) entries_[dir] = Entry{true, {}};
}

void InMemoryFileManager::setContainerAvailable(bool available) {
  std::lock_guard lock(mutex_);
  containerAvailable_ = available;
}

void InMemoryFileManager::failCopiesFrom(const std::string& sourcePath, std::string message) {
  std::lock_guard lock(mutex_);
  copyFailures_[sourcePath] = std::move(message);
}

void InMemoryFileManager::failReplacements(std::string message) {
  std::lock_guard lock(mutex_);
  replaceFailure_ = std::move(message);
}

void InMemoryFileManager::failWrites(std::string message) {
  std::lock_guard lock(mutex_);
  writeFailure_ = std::move(message);
}

std::optional<std::string> InMemoryFileManager::contents(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(path);
  if (it == entries_.end() || it->second.isDirectory) return std::nullopt;
  return it->second.bytes;
}

std::vector<std::string> InMemoryFileManager::pathsUnder(const std::string& directory) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  for (const auto& [path, entry] : entries_) {
    if (IsUnder(path, directory)) paths.push_back(path);
  }
  return paths;
}

std::vector<std::string> InMemoryFileManager::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

}  // namespace platform::testing
