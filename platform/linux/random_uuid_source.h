#pragma once

#include "platform/uuid.h"

namespace platform::linux_platform {

// Version 4 UUIDs from the kernel's random source (getrandom).
class RandomUUIDSource : public UUIDSource {
 public:
  std::string uuidString() override;
};

}  // namespace platform::linux_platform
