#pragma once

#include <string>
#include <utility>

namespace platform {

// The outcome of a platform operation: success, or failure with a message
// fit for a person (the text that follows ": " in a diagnostic line).
class Status {
 public:
  Status() = default;
  static Status OK() { return Status(); }
  static Status Error(std::string message) { return Status(std::move(message), false); }

  bool ok() const { return ok_; }
  const std::string& message() const { return message_; }

 private:
  Status(std::string message, bool ok) : message_(std::move(message)), ok_(ok) {}
  std::string message_;
  bool ok_ = true;
};

}  // namespace platform
