#include "platform/linux/base/proc_fields.h"

#include <algorithm>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

#include "platform/linux/base/unique_fd.h"

namespace platform::linux_platform {

std::optional<std::string> ReadProcFile(const char* path) {
  UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  // These files are a few KiB and are produced in one read.
  std::string text(16384, '\0');
  const ssize_t n = ::read(fd.get(), text.data(), text.size());
  if (n <= 0) return std::nullopt;
  text.resize(static_cast<std::size_t>(n));
  return text;
}

std::optional<std::uint64_t> ProcFieldNumber(std::string_view text, std::string_view key, int base) {
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = text.substr(start, end - start);
    if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == ':') {
      const std::string digits(line.substr(key.size() + 1));
      char* parsed = nullptr;
      const std::uint64_t value = std::strtoull(digits.c_str(), &parsed, base);
      if (parsed == digits.c_str()) return std::nullopt;
      return value;
    }
    start = end + 1;
  }
  return std::nullopt;
}

}  // namespace platform::linux_platform
