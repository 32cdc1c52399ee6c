#pragma once

#include <string>

namespace platform {

// Makes new random UUIDs (version 4).
class UUIDSource {
 public:
  virtual ~UUIDSource() = default;
  // 36 characters: upper-case hexadecimal digits in groups of 8-4-4-4-12.
  virtual std::string uuidString() = 0;
};

}  // namespace platform
