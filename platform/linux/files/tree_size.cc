#include "platform/linux/files/tree_size.h"

#include <filesystem>
#include <system_error>

namespace platform::linux_platform {

std::uint64_t BytesToCopy(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  // The shared item itself is followed when it is a link, as the copy does.
  const fs::file_status status = fs::status(path, error);
  if (error) return 0;
  if (fs::is_regular_file(status)) {
    const auto size = fs::file_size(path, error);
    return error ? 0 : size;
  }
  if (!fs::is_directory(status)) return 0;
  std::uint64_t total = 0;
  fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, error);
  for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error) && !it->is_symlink(error)) {
      const auto size = it->file_size(error);
      if (!error) total += size;
    }
    error.clear();
  }
  return total;
}

}  // namespace platform::linux_platform
