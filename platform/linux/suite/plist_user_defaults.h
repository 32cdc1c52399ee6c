#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/status.h"
#include "platform/user_defaults.h"

namespace platform::linux_platform {

class RunJournal;

// <directory>/<name>.plist: the file of the suite `name`.
std::string SuitePath(const std::string& directory, const std::string& name);

// A suite kept as <configHome>/<name>.plist, an XML property list whose top
// level is a dictionary: the file Foundation on Linux reads for a suite.
class PlistUserDefaults : public NSUserDefaults {
 public:
  // `journal`, when given, records the suite's temporary file for the run.
  PlistUserDefaults(std::string directory, std::string name, std::shared_ptr<RunJournal> journal = nullptr);

  void setObject(const PropertyListValue& value, const std::string& key) override;

  // Under an advisory lock on a sidecar file: reads the suite as it is now
  // (XML or binary), applies the staged values, writes a temporary file,
  // fsyncs it and renames it over the suite. A suite that does not parse is
  // moved aside, never overwritten. Staged values stay staged on failure.
  // A text holding a NUL character is refused (false, nothing written): a
  // suite's strings end at a NUL, and a cut text would be stored.
  bool synchronize() override;
  std::string synchronizeFailure() const override;

  std::string path() const;

 private:
  // Lock, read, apply the staged values, write, rename; under mutex_.
  Status writeStaged();

  std::string directory_;
  std::string name_;
  std::shared_ptr<RunJournal> journal_;
  mutable std::mutex mutex_;
  std::map<std::string, PropertyListValue> staged_;
  std::string failure_;
};

class PlistUserDefaultsSuites : public NSUserDefaultsSuites {
 public:
  explicit PlistUserDefaultsSuites(std::string configHome, std::shared_ptr<RunJournal> journal = nullptr)
      : configHome_(std::move(configHome)), journal_(std::move(journal)) {}

  // None when the name cannot be a file name of its own or the config home
  // can neither be found nor created (mode 0700) as a directory.
  std::unique_ptr<NSUserDefaults> initWithSuiteName(const std::string& suiteName) override;

  // The file the suite `suiteName` is (or would be) kept in.
  std::string pathForSuiteName(const std::string& suiteName) const;

 private:
  std::string configHome_;
  std::shared_ptr<RunJournal> journal_;
};

}  // namespace platform::linux_platform
