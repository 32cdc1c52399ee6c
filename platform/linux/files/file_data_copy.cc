#include "platform/linux/files/file_data_copy.h"

// A regular file's data copied: a reflink, an in-kernel copy, only the data
// ranges of a file with holes, or a read/write loop through a small buffer.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/files/copy_progress.h"
#include "platform/linux/base/errno_status.h"
#include "platform/linux/base/file_writing.h"

namespace platform::linux_platform {

namespace {

// Large enough that a syscall per chunk costs nothing, small enough that the
// progress line moves while a big file is copied in the kernel.
constexpr std::size_t kKernelCopyChunk = std::size_t{64} << 20;
// The read/write fallback's buffer: the only file data this process holds.
constexpr std::size_t kBufferSize = std::size_t{256} << 10;
// Errors from copy_file_range that mean "not between these files", before
// any byte moved; the read/write loop can still do the job.
bool KernelCopyUnsupported(int err) {
  return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EBADF ||
         err == EPERM || err == ETXTBSY;
}

// Below this, starting write-back costs more than it saves: each call sends
// its own small request to the disk (measured on 4 KiB files: 125 us each,
// against a few for the same data in one batched flush).
constexpr std::uint64_t kWriteBackMinimum = std::uint64_t{1} << 20;

// Asks the kernel to start writing `length` bytes at `offset` of `out` to
// disk, without waiting, when they are many: the disk then works while the
// copy goes on, and the flush that follows waits for little. Only a hint;
// that flush is what guarantees durability.
void StartWriteBack(int out, std::uint64_t offset, std::uint64_t length) {
  if (length < kWriteBackMinimum) return;
  (void)::sync_file_range(out, static_cast<off64_t>(offset), static_cast<off64_t>(length),
                          SYNC_FILE_RANGE_WRITE);
}

Status ReadWriteLoop(int in, int out, const std::string& srcPath, CopyProgress* progress) {
  const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  std::uint64_t copied = 0;
  std::uint64_t writeBackFrom = 0;
  for (;;) {
    const ssize_t got = ::read(in, buffer.get(), kBufferSize);
    if (got < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("cannot read", srcPath, errno);
    }
    if (got == 0) {
      StartWriteBack(out, writeBackFrom, copied - writeBackFrom);
      return Status::OK();
    }
    const std::string_view chunk(buffer.get(), static_cast<std::size_t>(got));
    if (Status written = WriteAll(out, chunk, "cannot write the copy of", srcPath); !written.ok()) return written;
    copied += static_cast<std::uint64_t>(got);
    if (copied - writeBackFrom >= kKernelCopyChunk) {
      StartWriteBack(out, writeBackFrom, copied - writeBackFrom);
      writeBackFrom = copied;
    }
    if (progress != nullptr) progress->bytesCopied(static_cast<std::uint64_t>(got));
  }
}

// Whether the file holds fewer blocks than its size takes: it has holes.
bool HasHoles(const struct stat& st) {
  return st.st_size > 0 && static_cast<std::uint64_t>(st.st_blocks) * 512 < static_cast<std::uint64_t>(st.st_size);
}

// Copies `length` bytes at `offset` of `in` to the same offset of `out`: in
// the kernel when it can, else through a small buffer.
Status CopyRange(int in, int out, off_t offset, off_t length, const std::string& srcPath, CopyProgress* progress,
                 bool& kernelCopy, std::unique_ptr<char[]>& buffer) {
  off_t inAt = offset;
  off_t outAt = offset;
  const off_t end = offset + length;
  while (inAt < end) {
    ssize_t moved = -1;
    if (kernelCopy) {
      const std::size_t chunk = static_cast<std::size_t>(std::min<off_t>(end - inAt, kKernelCopyChunk));
      moved = ::copy_file_range(in, &inAt, out, &outAt, chunk, 0);
      if (moved < 0 && errno == EINTR) continue;
      if (moved < 0 && inAt == offset && KernelCopyUnsupported(errno)) kernelCopy = false;
      else if (moved < 0) return ErrnoStatus("cannot copy", srcPath, errno);
      else if (moved == 0) kernelCopy = inAt != offset;  // some file systems say 0 rather than fail
      if (moved == 0 && kernelCopy) break;               // the file got shorter
    }
    if (!kernelCopy) {
      if (!buffer) buffer.reset(new char[kBufferSize]);
      const std::size_t chunk = static_cast<std::size_t>(std::min<off_t>(end - inAt, kBufferSize));
      moved = ::pread(in, buffer.get(), chunk, inAt);
      if (moved < 0 && errno == EINTR) continue;
      if (moved < 0) return ErrnoStatus("cannot read", srcPath, errno);
      if (moved == 0) break;
      for (ssize_t put = 0; put < moved;) {
        const ssize_t n = ::pwrite(out, buffer.get() + put, static_cast<std::size_t>(moved - put), outAt + put);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ErrnoStatus("cannot write the copy of", srcPath, errno);
        put += n;
      }
      inAt += moved;
      outAt += moved;
    }
    if (moved > 0 && progress != nullptr) progress->bytesCopied(static_cast<std::uint64_t>(moved));
  }
  StartWriteBack(out, static_cast<std::uint64_t>(offset), static_cast<std::uint64_t>(inAt - offset));
  return Status::OK();
}

// Copies a file with holes as cp does: only the ranges that hold data
// (SEEK_DATA, SEEK_HOLE), each to its own offset, then the size; the holes
// stay holes, taking no space and no time. NotSupported, before anything is
// written, when the file system cannot tell where the data is.
Status CopySparse(int in, const struct stat& st, int out, const std::string& srcPath, CopyProgress* progress,
                  bool kernelCopy) {
  const off_t size = st.st_size;
  std::unique_ptr<char[]> buffer;
  off_t offset = 0;
  while (offset < size) {
    const off_t data = ::lseek(in, offset, SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) break;  // only a hole from here on
      if (offset == 0 && (errno == EINVAL || errno == EOPNOTSUPP)) return Status::NotSupported("no SEEK_DATA");
      return ErrnoStatus("cannot read", srcPath, errno);
    }
    if (data >= size) break;
    off_t hole = ::lseek(in, data, SEEK_HOLE);
    if (hole < 0) return ErrnoStatus("cannot read", srcPath, errno);
    hole = std::min(hole, size);
    if (progress != nullptr && data > offset) progress->bytesCopied(static_cast<std::uint64_t>(data - offset));
    if (Status copied = CopyRange(in, out, data, hole - data, srcPath, progress, kernelCopy, buffer); !copied.ok()) {
      return copied;
    }
    offset = hole;
  }
  if (progress != nullptr && size > offset) progress->bytesCopied(static_cast<std::uint64_t>(size - offset));
  if (::ftruncate(out, size) != 0) return ErrnoStatus("cannot write the copy of", srcPath, errno);
  return Status::OK();
}
}  // namespace

Status CopyOpenedFileData(int in, const struct stat& st, int out, const std::string& srcPath,
                          CopyProgress* progress, bool allowKernelCopy) {
  if (HasHoles(st)) {
    // A reflink keeps the holes by itself; anything else would fill them.
    if (allowKernelCopy && ::ioctl(out, FICLONE, in) == 0) {
      if (progress != nullptr) progress->bytesCopied(static_cast<std::uint64_t>(st.st_size));
      return Status::OK();
    }
    Status sparse = CopySparse(in, st, out, srcPath, progress, allowKernelCopy);
    if (sparse.code() != Status::Code::kNotSupported) return sparse;
  }
  if (allowKernelCopy) {
    // A file system that cannot share blocks says so once; the files after
    // that go straight to the in-kernel copy (ext4: one call less per file).
    static std::atomic<dev_t> cannotClone{0};
    if (cannotClone.load(std::memory_order_relaxed) != st.st_dev || st.st_dev == 0) {
      if (::ioctl(out, FICLONE, in) == 0) {
        if (progress != nullptr) progress->bytesCopied(static_cast<std::uint64_t>(st.st_size));
        return Status::OK();
      }
      // EOPNOTSUPP comes only when both files are on this one file system
      // (another pair gets EXDEV first) and it has no block sharing.
      if (errno == EOPNOTSUPP) cannotClone.store(st.st_dev, std::memory_order_relaxed);
    }
    std::uint64_t copied = 0;
    for (;;) {
      const ssize_t moved = ::copy_file_range(in, nullptr, out, nullptr, kKernelCopyChunk, 0);
      if (moved > 0) {
        StartWriteBack(out, copied, static_cast<std::uint64_t>(moved));
        copied += static_cast<std::uint64_t>(moved);
        if (progress != nullptr) progress->bytesCopied(static_cast<std::uint64_t>(moved));
        // All the size it had when opened: the copy is that snapshot, and
        // the call that would only report the end is saved (one per file).
        if (st.st_size > 0 && copied == static_cast<std::uint64_t>(st.st_size)) return Status::OK();
        continue;
      }
      if (moved == 0) {
        // Nothing at all from the very start: either an empty file or a file
        // system that will not copy in the kernel (some report 0 rather than
        // an error). The read/write loop tells which, at no cost.
        if (copied == 0) break;
        return Status::OK();
      }
      if (errno == EINTR) continue;
      if (copied == 0 && KernelCopyUnsupported(errno)) break;
      return ErrnoStatus("cannot copy", srcPath, errno);
    }
  }
  return ReadWriteLoop(in, out, srcPath, progress);
}

Status CopyFileData(int in, int out, const std::string& srcPath, CopyProgress* progress,
                    bool allowKernelCopy) {
  struct stat st {};
  if (::fstat(in, &st) != 0) return ErrnoStatus("cannot read", srcPath, errno);
  return CopyOpenedFileData(in, st, out, srcPath, progress, allowKernelCopy);
}

}  // namespace platform::linux_platform
