#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/data.h"

namespace platform {

// The values the extension stores: a list of strings, or bytes (a data value,
// never a string).
using PropertyListValue = std::variant<std::vector<std::string>, Data>;

// A settings suite shared with the host application.
class NSUserDefaults {
 public:
  virtual ~NSUserDefaults() = default;

  // Stages `value` under `key`, replacing what the key held; every other key
  // of the suite keeps its value.
  virtual void setObject(const PropertyListValue& value, const std::string& key) = 0;

  // Writes staged changes out so that other processes see them. The suite is
  // replaced whole and at once: a reader sees the old suite or the new one.
  // Returns false when the changes could not be written.
  virtual bool synchronize() = 0;

  // Why the last synchronize failed, for a person; empty when it did not
  // fail or the suite cannot tell.
  virtual std::string synchronizeFailure() const { return {}; }
};

// Opens suites by name (NSUserDefaults initWithSuiteName:).
class NSUserDefaultsSuites {
 public:
  virtual ~NSUserDefaultsSuites() = default;

  // The suite named `suiteName`, or none when it cannot be opened at all.
  virtual std::unique_ptr<NSUserDefaults> initWithSuiteName(const std::string& suiteName) = 0;
};

}  // namespace platform
