#include "platform/linux/extension/stdio_output.h"

namespace platform::linux_platform {

void StdioOutput::writeLine(std::string_view line) {
  std::lock_guard lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), stream_);
  std::fputc('\n', stream_);
  std::fflush(stream_);
}

}  // namespace platform::linux_platform
