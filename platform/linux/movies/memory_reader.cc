#include "platform/linux/movies/memory_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace platform::linux_platform {

MemoryReader::MemoryReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {
  constexpr int kBufferSize = 32 * 1024;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
  if (buffer == nullptr) return;
  context_ = avio_alloc_context(buffer, kBufferSize, 0, this, &MemoryReader::read, nullptr, &MemoryReader::seek);
  if (context_ == nullptr) av_free(buffer);
}

MemoryReader::~MemoryReader() {
  if (context_ == nullptr) return;
  av_freep(&context_->buffer);  // FFmpeg may have replaced the buffer it was given
  avio_context_free(&context_);
}

int MemoryReader::read(void* self, std::uint8_t* buffer, int size) {
  auto& reader = *static_cast<MemoryReader*>(self);
  const std::size_t left = reader.bytes_.size() - reader.position_;
  if (left == 0 || size <= 0) return AVERROR_EOF;
  const std::size_t count = std::min(left, static_cast<std::size_t>(size));
  std::memcpy(buffer, reader.bytes_.data() + reader.position_, count);
  reader.position_ += count;
  return static_cast<int>(count);
}

std::int64_t MemoryReader::seek(void* self, std::int64_t offset, int whence) {
  auto& reader = *static_cast<MemoryReader*>(self);
  const auto size = static_cast<std::int64_t>(reader.bytes_.size());
  if ((whence & AVSEEK_SIZE) != 0) return size;
  std::int64_t base = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<std::int64_t>(reader.position_); break;
    case SEEK_END: base = size; break;
    default: return AVERROR(EINVAL);
  }
  // Both bounds are checked without overflowing: base lies in [0, size].
  if (offset < -base || offset > size - base) return AVERROR(EINVAL);
  reader.position_ = static_cast<std::size_t>(base + offset);
  return base + offset;
}

}  // namespace platform::linux_platform
