#include "platform/linux/files/flush_ring.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <liburing.h>

#include "platform/linux/base/errno_status.h"

namespace platform::linux_platform {

namespace {

// Items under way at once, each holding a descriptor of the ring's own table.
constexpr unsigned kSlots = 256;
// Kernel threads of the ring that may wait in an fsync at once. The kernel's
// default, four per processor, leaves too few flushes side by side to merge
// their waits for the disk.
constexpr unsigned kWorkers = 128;

// The steps of one item, linked: the open, the fsync, the close. Each ends in
// one completion, also when an earlier step failed and it was cancelled.
enum Step : std::uint64_t { kOpen, kSync, kClose };
constexpr unsigned kSteps = 3;

std::uint64_t Tag(unsigned slot, Step step) { return std::uint64_t{slot} << 2 | step; }

class Ring {
 public:
  Ring() = default;
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;
  ~Ring() {
    if (ready_) io_uring_queue_exit(&ring_);
  }

  // A ring for `slots` items at once, or false when this kernel or process
  // cannot give one that opens, fsyncs and closes with its own descriptors.
  bool setUp(unsigned slots) {
    if (io_uring_queue_init(slots * kSteps, &ring_, 0) < 0) return false;
    ready_ = true;
    io_uring_probe* probe = io_uring_get_probe_ring(&ring_);
    if (probe == nullptr) return false;
    const bool supported = io_uring_opcode_supported(probe, IORING_OP_OPENAT) &&
                           io_uring_opcode_supported(probe, IORING_OP_FSYNC) &&
                           io_uring_opcode_supported(probe, IORING_OP_CLOSE);
    io_uring_free_probe(probe);
    if (!supported || io_uring_register_files_sparse(&ring_, slots) < 0) return false;
    unsigned workers[2] = {kWorkers, kWorkers};  // bounded, unbounded
    (void)io_uring_register_iowq_max_workers(&ring_, workers);  // else fewer at once
    return true;
  }

  io_uring* get() { return &ring_; }

 private:
  io_uring ring_{};
  bool ready_ = false;
};

// Where the items stand: which item each slot flushes, how many of its steps
// have yet to complete, and the first failure.
class Flush {
 public:
  Flush(const std::vector<FlushItem>& items, io_uring* ring, unsigned slots)
      : items_(items), ring_(ring), itemOf_(slots), pending_(slots, 0) {}

  // Starts the next item in `slot`; false when the ring has no room for its
  // steps (it always has: at most `slots` items are under way).
  bool start(unsigned slot) {
    io_uring_sqe* steps[kSteps];
    for (io_uring_sqe*& sqe : steps) {
      sqe = io_uring_get_sqe(ring_);
      if (sqe == nullptr) return false;
    }
    const FlushItem& item = items_[next_];
    itemOf_[slot] = next_++;
    pending_[slot] = kSteps;
    // No O_CLOEXEC: the ring refuses it for its own descriptors, which no
    // other program can inherit anyway.
    io_uring_prep_openat_direct(steps[kOpen], item.dir, item.name.c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0, slot);
    steps[kOpen]->flags |= IOSQE_IO_LINK;
    io_uring_prep_fsync(steps[kSync], static_cast<int>(slot), 0);
    // Closed even when the fsync fails, so the slot is free for the next item.
    steps[kSync]->flags |= IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;
    io_uring_prep_close_direct(steps[kClose], slot);
    for (unsigned step = 0; step < kSteps; ++step) io_uring_sqe_set_data64(steps[step], Tag(slot, Step{step}));
    return true;
  }

  bool moreToStart() const { return next_ < items_.size() && failure_.ok(); }

  // Takes one completion; returns the slot when that item is done with.
  std::optional<unsigned> complete(const io_uring_cqe& cqe) {
    const auto slot = static_cast<unsigned>(cqe.user_data >> 2);
    const auto step = static_cast<Step>(cqe.user_data & 3);
    const std::string& path = *items_[itemOf_[slot]].path;
    const int err = -cqe.res;
    if (step == kOpen && cqe.res < 0 && err != ENOENT && err != ELOOP) {
      fail(ErrnoStatus("cannot open", path, err));
    } else if (step == kSync && cqe.res < 0 && err != ECANCELED) {
      fail(ErrnoStatus("cannot write to disk", path, err));
    }
    if (--pending_[slot] > 0) return std::nullopt;
    return slot;
  }

  const Status& failure() const { return failure_; }

 private:
  void fail(Status status) {
    if (failure_.ok()) failure_ = std::move(status);
  }

  const std::vector<FlushItem>& items_;
  io_uring* ring_;
  std::vector<std::size_t> itemOf_;
  std::vector<unsigned> pending_;
  std::size_t next_ = 0;
  Status failure_;
};

}  // namespace

std::optional<Status> FlushThroughRing(const std::vector<FlushItem>& items) {
  if (items.empty()) return Status::OK();
  const auto slots = static_cast<unsigned>(std::min<std::size_t>(kSlots, items.size()));
  Ring ring;
  if (!ring.setUp(slots)) return std::nullopt;

  Flush flush(items, ring.get(), slots);
  std::size_t underWay = 0;
  for (unsigned slot = 0; slot < slots && flush.moreToStart(); ++slot) {
    if (!flush.start(slot)) return std::nullopt;
    ++underWay;
  }
  while (underWay > 0) {
    const int submitted = io_uring_submit_and_wait(ring.get(), 1);
    // The ring itself failing leaves it unknown which items were flushed:
    // the caller flushes them all again, another way.
    if (submitted < 0 && submitted != -EINTR) return std::nullopt;
    unsigned head = 0;
    unsigned seen = 0;
    io_uring_cqe* cqe = nullptr;
    io_uring_for_each_cqe(ring.get(), head, cqe) {
      ++seen;
      const std::optional<unsigned> freed = flush.complete(*cqe);
      if (!freed) continue;
      --underWay;
      if (flush.moreToStart()) {
        if (!flush.start(*freed)) return std::nullopt;
        ++underWay;
      }
    }
    io_uring_cq_advance(ring.get(), seen);
  }
  return flush.failure();
}

}  // namespace platform::linux_platform
