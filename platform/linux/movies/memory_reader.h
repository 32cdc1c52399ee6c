#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct AVIOContext;

namespace platform::linux_platform {

// Hands FFmpeg a movie held in memory through its I/O context, so that the
// bytes are read, and seeked in, without a file or any protocol.
class MemoryReader {
 public:
  explicit MemoryReader(std::span<const std::uint8_t> bytes);
  ~MemoryReader();
  MemoryReader(const MemoryReader&) = delete;
  MemoryReader& operator=(const MemoryReader&) = delete;

  // None when FFmpeg could not allocate it. Stays owned by the reader.
  AVIOContext* context() const { return context_; }

 private:
  static int read(void* self, std::uint8_t* buffer, int size);
  static std::int64_t seek(void* self, std::int64_t offset, int whence);

  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
  AVIOContext* context_ = nullptr;
};

}  // namespace platform::linux_platform
