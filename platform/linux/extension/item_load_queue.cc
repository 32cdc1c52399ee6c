#include "platform/linux/extension/item_load_queue.h"

#include <cstdio>
#include <exception>

namespace platform::linux_platform {

ItemLoadQueue::ItemLoadQueue() : worker_([this] { run(); }) {}

ItemLoadQueue::~ItemLoadQueue() {
  const bool onWorker = std::this_thread::get_id() == worker_.get_id();
  if (!onWorker) waitUntilIdle();
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  // A completion that let go of the last owner leaves the worker to end by
  // itself; a thread cannot wait for itself.
  if (onWorker) worker_.detach();
  else worker_.join();
}

void ItemLoadQueue::start(Load load, NSItemProviderCompletionHandler completion) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(Job{std::move(load), std::move(completion)});
    ++started_;
  }
  wake_.notify_one();
}

void ItemLoadQueue::waitUntilIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return delivered_ == started_; });
}

std::size_t ItemLoadQueue::started() const {
  std::lock_guard lock(mutex_);
  return started_;
}

void ItemLoadQueue::run() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    // A completion that throws must not take the worker down with it: the
    // request would then never end. Say so and go on with the next load.
    try {
      Result result = job.load ? job.load() : Result{};
      job.completion(std::move(result.first), std::move(result.second));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "halvernsignet-share: a load's completion failed: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "halvernsignet-share: a load's completion failed\n");
    }
    // What the load and its completion hold (the shared item, its providers,
    // and through them this queue) is let go before the delivery is counted:
    // once it is counted the owner may go, and the queue must never be
    // destroyed on its own worker.
    job = Job{};
    bool idle = false;
    {
      std::lock_guard lock(mutex_);
      idle = ++delivered_ == started_;
    }
    // Only the last delivery wakes the waiters: waking them for every item
    // cost two thread switches per shared file.
    if (idle) idle_.notify_all();
  }
}

}  // namespace platform::linux_platform
