#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_manager.h"

namespace platform::testing {

// A file tree in memory that records every call, so tests can check both
// the effects ("the container holds ...") and the order of operations.
class InMemoryFileManager : public NSFileManager {
 public:
  // Containers live under this directory.
  explicit InMemoryFileManager(std::string containersRoot = "/containers");

  std::optional<URL> containerURLForSecurityApplicationGroupIdentifier(const std::string& groupIdentifier) override;
  bool fileExistsAtPath(const std::string& path) override;
  Status removeItemAtURL(const URL& url) override;
  Status copyItemAtURL(const URL& src, const URL& dst) override;
  Status replaceItemAtURL(const URL& originalItemURL, const URL& newItemURL) override;
  Status writeData(const Data& data, const URL& url, bool atomically) override;
  Status synchronizeWrittenItems() override;

  // Setting up the tree.
  void addFile(const std::string& path, const std::string& contents);
  void addDirectory(const std::string& path);

  // Failure injection.
  void setContainerAvailable(bool available);
  void failCopiesFrom(const std::string& sourcePath, std::string message);
  void failReplacements(std::string message);
  void failWrites(std::string message);

  // What happened.
  std::optional<std::string> contents(const std::string& path) const;
  std::vector<std::string> pathsUnder(const std::string& directory) const;  // direct and nested
  std::vector<std::string> calls() const;
  std::string containerPath(const std::string& groupIdentifier) const;

 private:
  struct Entry {
    bool isDirectory = false;
    std::string bytes;
  };
  bool existsLocked(const std::string& path) const;
  void eraseTreeLocked(const std::string& path);
  void record(std::string call);

  mutable std::mutex mutex_;
  std::string containersRoot_;
  std::map<std::string, Entry> entries_;
  std::vector<std::string> calls_;
  bool containerAvailable_ = true;
  std::map<std::string, std::string> copyFailures_;
  std::optional<std::string> replaceFailure_;
  std::optional<std::string> writeFailure_;
};

}  // namespace platform::testing
