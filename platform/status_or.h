#pragma once

#include <cassert>
#include <optional>
#include <utility>

#include "platform/status.h"

namespace platform {

// The value of an operation that can fail, or the Status saying why it did.
// Test ok() before taking the value.
template <typename T>
class [[nodiscard]] StatusOr {
 public:
  // A failure; `status` must not be OK.
  StatusOr(Status status) : status_(std::move(status)) {  // NOLINT: implicit, as a return value
    assert(!status_.ok());
    // Never a success without a value, even where asserts are compiled out.
    if (status_.ok()) status_ = Status::InvalidArgument("no value was given");
  }
  StatusOr(T value) : value_(std::move(value)) {}  // NOLINT: implicit, as a return value

  bool ok() const { return status_.ok(); }
  const Status& status() const { return status_; }

  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }

 private:
  Status status_;
  std::optional<T> value_;
};

}  // namespace platform
