#pragma once

#include <string>
#include <utility>

namespace platform {

// The outcome of an operation: success, or a failure with a code a caller can
// act on and a message fit for a person (the text that follows ": " in a
// diagnostic line). Callers branch on the code, never on the message.
class [[nodiscard]] Status {
 public:
  enum class Code {
    kOk,
    kNotFound,          // the item named is not there
    kAlreadyExists,     // something is in the way of a new item
    kPermissionDenied,  // the system refused access
    kInvalidArgument,   // the request cannot be carried out as asked (a bad name, a loop)
    kCorruption,        // the input is there but not what it claims to be
    kNotSupported,      // this kind of item or operation is not handled here
    kIOError,           // reading, writing or any other failure of the system
  };

  Status() = default;
  static Status OK() { return Status(); }
  static Status NotFound(std::string message) { return Status(Code::kNotFound, std::move(message)); }
  static Status AlreadyExists(std::string message) { return Status(Code::kAlreadyExists, std::move(message)); }
  static Status PermissionDenied(std::string message) {
    return Status(Code::kPermissionDenied, std::move(message));
  }
  static Status InvalidArgument(std::string message) {
    return Status(Code::kInvalidArgument, std::move(message));
  }
  static Status Corruption(std::string message) { return Status(Code::kCorruption, std::move(message)); }
  static Status NotSupported(std::string message) { return Status(Code::kNotSupported, std::move(message)); }
  static Status IOError(std::string message) { return Status(Code::kIOError, std::move(message)); }
  // A failed system call: the code its errno value `err` stands for (ENOENT:
  // not found, EEXIST: already exists, EACCES: permission denied, ...; any
  // other: I/O error) with `message` as it is.
  static Status FromErrno(int err, std::string message);

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  bool IsNotFound() const { return code_ == Code::kNotFound; }
  bool IsAlreadyExists() const { return code_ == Code::kAlreadyExists; }
  const std::string& message() const { return message_; }

  // The same failure with `context` put before its message, e.g.
  // "replaced /a, but the old item stayed: " + "cannot remove /b: ...".
  Status WithPrefix(const std::string& context) const { return Status(code_, context + message_); }

 private:
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

  Code code_ = Code::kOk;
  std::string message_;
};

}  // namespace platform
