#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "platform/status.h"
#include "platform/uuid.h"

namespace platform::linux_platform {

// Fills `bytes` from the kernel's random source: getrandom, or /dev/urandom
// where getrandom is missing or refused. Never a predictable byte: when
// neither source gives them, the status says why.
Status FillRandomBytes(std::uint8_t* bytes, std::size_t size);

// Version 4 UUIDs from FillRandomBytes, drawn 16 at a time, so a share of
// many files does not make a system call for each name. Throws nothing. A system without any
// random source cannot promise a fresh name, and a name that might collide
// with an existing copy is never made up instead: uuidString then says so on
// standard error and ends the process (abort), which only a broken system
// (no getrandom and no /dev/urandom) ever sees.
class RandomUUIDSource : public UUIDSource {
 public:
  std::string uuidString() noexcept override;

 private:
  std::mutex mutex_;
  std::array<std::uint8_t, 256> pool_{};
  std::size_t used_ = 256;  // empty until first use
};

}  // namespace platform::linux_platform
