#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/uuid.h"

namespace platform::testing {

// Predictable UUIDs: 00000000-0000-4000-8000-000000000001, ...02, ...
class SequentialUUIDSource : public UUIDSource {
 public:
  std::string uuidString() override {
    char text[40];
    std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012llX",
                  static_cast<unsigned long long>(++next_));
    return text;
  }

 private:
  std::atomic<unsigned long long> next_{0};
};

}  // namespace platform::testing
