#include "vantelkit/platform/DispatchQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <stdexcept>
#include <mutex>
#include <thread>
#include <vector>

namespace vantelkit {
namespace {

TEST(DispatchQueueTest, MainQueueRunsWorkOnlyWhenDrainedOnTheMainThread) {
  std::atomic<int> ran{0};
  std::atomic<bool> onMain{false};
  std::thread([&] {
    DispatchQueue::main()->async([&] {
      onMain = MainQueue::isMainThread();
      ++ran;
    });
  }).join();
  EXPECT_EQ(ran.load(), 0);
  EXPECT_GE(MainQueue::pendingCount(), 1u);
  ASSERT_TRUE(MainQueue::runUntil([&] { return ran == 1; }, 5));
  EXPECT_TRUE(onMain);
  EXPECT_TRUE(MainQueue::isMainThread());
}

TEST(DispatchQueueTest, DrainRunsOnlyWorkPendingWhenCalled) {
  std::vector<int> order;
  DispatchQueue::main()->async([&] {
    order.push_back(1);
    DispatchQueue::main()->async([&] { order.push_back(3); });
  });
  DispatchQueue::main()->async([&] { order.push_back(2); });
  EXPECT_EQ(MainQueue::drain(), 2u);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(MainQueue::drain(), 1u);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(DispatchQueueTest, WakeUpHandlerHearsOfNewMainQueueWork) {
  std::atomic<int> wakeUps{0};
  MainQueue::setWakeUpHandler([&] { ++wakeUps; });
  DispatchQueue::main()->async([] {});
  DispatchQueue::main()->async([] {});
  MainQueue::setWakeUpHandler(nullptr);
  EXPECT_EQ(wakeUps.load(), 2);
  MainQueue::drain();
}

TEST(DispatchQueueTest, SyncOnMainQueueFromMainThreadRunsInline) {
  bool ran = false;
  DispatchQueue::main()->sync([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(DispatchQueueTest, SyncFromABackgroundThreadWaitsForTheMainQueue) {
  std::atomic<bool> done{false};
  int value = 0;
  std::thread worker([&] {
    DispatchQueue::main()->sync([&] { value = 42; });
    done = true;
  });
  EXPECT_TRUE(MainQueue::runUntil([&] { return done.load(); }, 5));
  worker.join();
  EXPECT_EQ(value, 42);
}

TEST(DispatchQueueTest, SerialQueueRunsInSubmissionOrderOneAtATime) {
  auto queue = DispatchQueue::makeSerial("test.serial");
  EXPECT_EQ(queue->label(), "test.serial");
  EXPECT_TRUE(queue->isSerial());
  std::mutex mutex;
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<int> maxRunning{0};
  for (int i = 0; i < 500; ++i) {
    queue->async([&, i] {
      int now = ++running;
      int seen = maxRunning.load();
      while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
      }
      {
        std::lock_guard lock(mutex);
        order.push_back(i);
      }
      --running;
    });
  }
  queue->sync([] {});
  std::lock_guard lock(mutex);
  ASSERT_EQ(order.size(), 500u);
  for (int i = 0; i < 500; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(maxRunning.load(), 1);
}

TEST(DispatchQueueTest, NestedSyncOnTheSameSerialQueueDoesNotDeadlock) {
  auto outer = DispatchQueue::makeSerial("test.outer");
  auto inner = DispatchQueue::makeSerial("test.inner");
  int depth = 0;
  outer->sync([&] {
    ++depth;
    inner->sync([&] {
      ++depth;
      outer->sync([&] { ++depth; });
    });
  });
  EXPECT_EQ(depth, 3);
}

TEST(DispatchQueueTest, CurrentNamesTheRunningQueue) {
  auto queue = DispatchQueue::makeSerial("test.current");
  std::shared_ptr<DispatchQueue> seen;
  queue->sync([&] { seen = DispatchQueue::current(); });
  EXPECT_EQ(seen, queue);
  std::atomic<bool> done{false};
  std::shared_ptr<DispatchQueue> seenAsync;
  queue->async([&] {
    seenAsync = DispatchQueue::current();
    done = true;
  });
  queue->sync([] {});
  EXPECT_TRUE(done);
  EXPECT_EQ(seenAsync, queue);
}

TEST(DispatchQueueTest, SerialQueueWithATargetKeepsOrder) {
  auto target = DispatchQueue::makeSerial("test.target");
  auto a = DispatchQueue::makeSerial("test.a", QualityOfService::utility, target);
  std::vector<int> order;
  for (int i = 0; i < 100; ++i) a->async([&order, i] { order.push_back(i); });
  a->sync([] {});
  target->sync([] {});
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(DispatchQueueTest, AsyncAfterFiresInDeadlineOrder) {
  auto queue = DispatchQueue::makeSerial("test.after");
  std::mutex mutex;
  std::vector<int> order;
  const auto base = dispatchTimeAfter(0.05);
  const int offsets[] = {40, 10, 30, 0, 20};
  for (int offset : offsets) {
    queue->asyncAfter(base + std::chrono::milliseconds(offset), [&, offset] {
      std::lock_guard lock(mutex);
      order.push_back(offset);
    });
  }
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    {
      std::lock_guard lock(mutex);
      if (order.size() == 5) break;
    }
    ASSERT_LT(std::chrono::steady_clock::now(), limit);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(order, (std::vector<int>{0, 10, 20, 30, 40}));
  EXPECT_GE(std::chrono::steady_clock::now(), base + std::chrono::milliseconds(40));
}

TEST(DispatchQueueTest, AsyncAfterOnTheMainQueueWaitsForItsDeadline) {
  bool fired = false;
  const auto deadline = dispatchTimeAfter(0.03);
  DispatchQueue::main()->asyncAfter(deadline, [&] { fired = true; });
  MainQueue::runUntil([&] { return fired; }, 5);
  EXPECT_TRUE(fired);
  EXPECT_GE(std::chrono::steady_clock::now(), deadline);
}

TEST(DispatchQueueTest, DispatchTimeAfterTreatsNonsenseAsNow) {
  const auto before = std::chrono::steady_clock::now();
  const auto negative = dispatchTimeAfter(-3);
  const auto notANumber = dispatchTimeAfter(std::nan(""));
  const auto after = std::chrono::steady_clock::now();
  EXPECT_GE(negative, before);
  EXPECT_LE(negative, after);
  EXPECT_GE(notANumber, before);
  EXPECT_LE(notANumber, after);
  EXPECT_GT(dispatchTimeAfter(1e300), before + std::chrono::hours(24 * 365));
}

TEST(DispatchQueueTest, WorkThatThrowsDoesNotTakeTheQueueDown) {
  auto queue = DispatchQueue::makeSerial("test.throw");
  queue->async([] { throw std::runtime_error("boom"); });
  bool ran = false;
  queue->sync([&] { ran = true; });
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace vantelkit
