#pragma once

#include <string_view>

namespace platform {

// The process's standard output, where the extension's own diagnostic lines
// go. Each line is written whole, even when several threads write at once.
class StandardOutput {
 public:
  virtual ~StandardOutput() = default;
  // Writes `line` and a line feed.
  virtual void writeLine(std::string_view line) = 0;
};

}  // namespace platform
