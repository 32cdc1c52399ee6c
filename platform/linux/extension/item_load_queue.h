#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/extension.h"

namespace platform::linux_platform {

// Runs item loads on one worker thread and delivers their completions one at
// a time, in the order the loads were started. Appends from completions thus
// never interleave, and the last attachment's completion runs after every
// earlier one, so the stored list holds every item in attachment order.
class ItemLoadQueue {
 public:
  using Result = std::pair<std::optional<LoadedItem>, std::optional<NSError>>;
  using Load = std::function<Result()>;

  ItemLoadQueue();
  ~ItemLoadQueue();  // finishes every started load first
  ItemLoadQueue(const ItemLoadQueue&) = delete;
  ItemLoadQueue& operator=(const ItemLoadQueue&) = delete;

  // Queues `load`; its result goes to `completion` on the worker thread.
  void start(Load load, NSItemProviderCompletionHandler completion);

  // Returns once every load started so far (and every load those completions
  // started in turn) has delivered its completion.
  void waitUntilIdle();

  std::size_t started() const;

 private:
  struct Job {
    Load load;
    NSItemProviderCompletionHandler completion;
  };
  void run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Job> jobs_;
  std::size_t started_ = 0;
  std::size_t delivered_ = 0;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace platform::linux_platform
