#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/standard_output.h"

namespace platform::testing {

// Keeps every line written, in order.
class RecordingOutput : public StandardOutput {
 public:
  void writeLine(std::string_view line) override {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace platform::testing
