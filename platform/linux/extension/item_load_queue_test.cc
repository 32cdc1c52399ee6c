#include "platform/linux/extension/item_load_queue.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/extension/queued_item_provider.h"

namespace platform::linux_platform {
namespace {

using namespace std::chrono_literals;

// Completions arrive in start order even when earlier loads take longer, one
// at a time, and waitUntilIdle covers loads started by completions.
TEST(ItemLoadQueue, DeliversOneAtATimeInStartOrder) {
  auto queue = std::make_shared<ItemLoadQueue>();
  std::vector<std::string> delivered;
  std::atomic<int> running{0};
  std::atomic<int> overlaps{0};
  auto record = [&](std::optional<LoadedItem> item, std::optional<NSError> error) {
    if (++running > 1) ++overlaps;
    std::this_thread::sleep_for(1ms);
    delivered.push_back(error ? "error:" + error->localizedDescription : std::get<std::string>(*item));
    --running;
  };
  QueuedItemProvider slow({"public.plain-text"}, {LoadedItem{std::string("slow")}, std::nullopt}, 30ms, queue);
  QueuedItemProvider fast({"public.plain-text"}, {LoadedItem{std::string("fast")}, std::nullopt}, 0ms, queue);
  QueuedItemProvider failing({"public.jpeg"}, {std::nullopt, NSError{"boom"}}, 0ms, queue);
  slow.loadItemForTypeIdentifier("public.text", record);
  fast.loadItemForTypeIdentifier("public.text", [&](auto item, auto error) {
    record(item, error);
    fast.loadItemForTypeIdentifier("public.text", record);  // started from a completion
  });
  failing.loadItemForTypeIdentifier("public.image", record);
  queue->waitUntilIdle();
  EXPECT_EQ(delivered, (std::vector<std::string>{"slow", "fast", "error:boom", "fast"}));
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(queue->started(), 4u);
}

TEST(ItemLoadQueue, ThrowingCompletionStillCountsAsDelivered) {
  ItemLoadQueue queue;
  bool later = false;
  queue.start([] { return ItemLoadQueue::Result{}; }, [](auto, auto) { throw std::runtime_error("bad"); });
  queue.start([] { return ItemLoadQueue::Result{}; }, [&](auto, auto) { later = true; });
  queue.waitUntilIdle();
  EXPECT_TRUE(later);
}

// The owner lets go as soon as the last delivery is counted, while the
// completion's captures (which own the queue through the provider) may still
// be being released on the worker: the queue must go on the owner's thread.
// The captures take a while to let go, so a worker that counted the delivery
// first would reliably hold the last owner.
TEST(ItemLoadQueue, OwnerCanLetGoRightAfterTheLastDelivery) {
  struct SlowToLetGo {
    std::shared_ptr<QueuedItemProvider> provider;
    ~SlowToLetGo() { std::this_thread::sleep_for(2ms); }
  };
  constexpr int kRounds = 20;
  const std::thread::id owner = std::this_thread::get_id();
  std::atomic<int> destroyedOnOwner{0};
  std::atomic<int> destroyedElsewhere{0};
  for (int round = 0; round < kRounds; ++round) {
    // A queue let go off the owner's thread is leaked rather than deleted,
    // so that failure shows as a count, not as a crash.
    std::shared_ptr<ItemLoadQueue> queue(new ItemLoadQueue, [&](ItemLoadQueue* q) {
      if (std::this_thread::get_id() != owner) {
        ++destroyedElsewhere;
        return;
      }
      ++destroyedOnOwner;
      delete q;
    });
    auto provider = std::make_shared<QueuedItemProvider>(
        std::vector<std::string>{"public.plain-text"}, ItemLoadQueue::Result{LoadedItem{std::string("x")}, std::nullopt},
        0ms, queue);
    auto captured = std::make_shared<SlowToLetGo>(SlowToLetGo{provider});
    provider->loadItemForTypeIdentifier("public.text", [captured](auto, auto) {});
    captured.reset();
    queue->waitUntilIdle();
    queue.reset();
    provider.reset();
    EXPECT_EQ(destroyedOnOwner.load(), round + 1);
  }
  // Give a late release on a worker the time to show before the counters go.
  for (int wait = 0; wait < 100 && destroyedOnOwner + destroyedElsewhere < kRounds; ++wait) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(destroyedElsewhere.load(), 0);
}

TEST(QueuedItemProvider, ConformanceFollowsOfferedTypes) {
  auto queue = std::make_shared<ItemLoadQueue>();
  QueuedItemProvider provider({"public.file-url", "public.mpeg-4"}, {}, 0ms, queue);
  EXPECT_TRUE(provider.hasItemConformingToTypeIdentifier("public.url"));
  EXPECT_TRUE(provider.hasItemConformingToTypeIdentifier("public.movie"));
  EXPECT_FALSE(provider.hasItemConformingToTypeIdentifier("public.image"));
}

}  // namespace
}  // namespace platform::linux_platform
