#include "platform/linux/base/random_uuid_source.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/linux/base/errno_status.h"
#include "platform/linux/base/unique_fd.h"

namespace platform::linux_platform {
namespace {

Status ReadDevUrandom(std::uint8_t* bytes, std::size_t size) {
  UniqueFd fd(::open("/dev/urandom", O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) return ErrnoStatus("cannot open", "/dev/urandom", errno);
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t got = ::read(fd.get(), bytes + filled, size - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ErrnoStatus("cannot read", "/dev/urandom", errno);
    if (got == 0) return Status::IOError("cannot read /dev/urandom: it ended");
    filled += static_cast<std::size_t>(got);
  }
  return Status::OK();
}

}  // namespace

Status FillRandomBytes(std::uint8_t* bytes, std::size_t size) {
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t got = ::getrandom(bytes + filled, size - filled, 0);
    if (got >= 0) {
      filled += static_cast<std::size_t>(got);
      continue;
    }
    if (errno == EINTR) continue;
    // getrandom missing (ENOSYS) or refused by a seccomp filter: the device
    // gives the same bytes.
    return ReadDevUrandom(bytes, size);
  }
  return Status::OK();
}

std::string RandomUUIDSource::uuidString() noexcept {
  std::array<std::uint8_t, 16> bytes{};
  {
    std::lock_guard lock(mutex_);
    if (used_ + bytes.size() > pool_.size()) {
      if (Status filled = FillRandomBytes(pool_.data(), pool_.size()); !filled.ok()) {
        std::fprintf(stderr, "halvernsignet-share: no random source for a fresh file name: %s\n",
                     filled.message().c_str());
        std::abort();
      }
      used_ = 0;
    }
    // Bytes handed out are wiped, so no two UUIDs can share them.
    for (std::uint8_t& byte : bytes) {
      byte = pool_[used_];
      pool_[used_++] = 0;
    }
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0f];
  }
  return text;
}

}  // namespace platform::linux_platform
