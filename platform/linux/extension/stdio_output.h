#pragma once

#include <cstdio>
#include <mutex>

#include "platform/standard_output.h"

namespace platform::linux_platform {

// Lines to a stdio stream, each written and flushed whole under a lock, so
// lines from several threads never mix and reach a pipe at once.
class StdioOutput : public StandardOutput {
 public:
  explicit StdioOutput(std::FILE* stream) : stream_(stream) {}
  void writeLine(std::string_view line) override;

 private:
  std::FILE* stream_;
  std::mutex mutex_;
};

}  // namespace platform::linux_platform
