#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// The whole file at `path` as bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// Makes the file at `path` hold exactly `contents`.
void WriteFile(const std::filesystem::path& path, const std::string& contents);

}  // namespace testsupport
