#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::linux_platform {

// The text of a small /proc file (/proc/meminfo, /proc/self/status); none
// when it cannot be read.
std::optional<std::string> ReadProcFile(const char* path);

// The number after "key:" at the start of a line of such a text, read in
// `base` (10 for sizes in kB, 8 for a umask); none when there is no such line.
std::optional<std::uint64_t> ProcFieldNumber(std::string_view text, std::string_view key, int base = 10);

}  // namespace platform::linux_platform
