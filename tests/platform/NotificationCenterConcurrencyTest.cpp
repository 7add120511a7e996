#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "support/BoundedWait.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/NotificationCenter.h"

namespace vantelkit::platform {
namespace {

using namespace std::chrono_literals;


using vantelkit::testing::kPatience;
using vantelkit::testing::waitUntil;

TEST(NotificationCenterConcurrencyTest, QueuedObserverRunsOnItsQueueInPostingOrder) {
  NotificationCenter center;
  auto queue = DispatchQueue::makeSerial("observer queue");
  std::mutex mutex;
  std::vector<int> received;
  std::atomic<bool> onQueue{true};
  center.addObserver("n", queue, [&](const Notification& n) {
    if (DispatchQueue::current() != queue) onQueue = false;
    std::lock_guard lock(mutex);
    received.push_back(std::any_cast<int>(n.object));
  });
  for (int i = 0; i < 100; ++i) center.post("n", i);
  ASSERT_TRUE(waitUntil([&] {
    std::lock_guard lock(mutex);
    return received.size() == 100;
  }));
  EXPECT_TRUE(onQueue);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(received[i], i);
}

TEST(NotificationCenterConcurrencyTest, DeliveryQueuedBeforeRemovalNeverRuns) {
  NotificationCenter center;
  auto queue = DispatchQueue::makeSerial("blocked observer queue");
  std::promise<void> release;
  auto released = release.get_future().share();
  queue->async([released] { released.wait_for(kPatience); });

  std::atomic<int> calls{0};
  auto token = center.addObserver("n", queue, [&](const Notification&) { ++calls; });
  center.post("n");  // queued behind the blocker
  center.removeObserver(token);
  release.set_value();

  std::promise<void> drained;
  queue->async([&] { drained.set_value(); });
  ASSERT_EQ(drained.get_future().wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(calls, 0);
}

TEST(NotificationCenterConcurrencyTest, RemovalWaitsForACallUnderWayOnAnotherThread) {
  NotificationCenter center;
  std::promise<void> entered;
  std::promise<void> release;
  auto released = release.get_future().share();
  std::atomic<bool> callbackFinished{false};
  auto token = center.addObserver("n", [&](const Notification&) {
    entered.set_value();
    released.wait_for(kPatience);
    std::this_thread::sleep_for(5ms);
    callbackFinished = true;
  });

  auto poster = std::async(std::launch::async, [&] { center.post("n"); });
  ASSERT_EQ(entered.get_future().wait_for(kPatience), std::future_status::ready);
  auto remover = std::async(std::launch::async, [&] {
    center.removeObserver(token);
    return callbackFinished.load();
  });
  std::this_thread::sleep_for(10ms);  // lets the remover reach its wait
  release.set_value();

  ASSERT_EQ(remover.wait_for(kPatience), std::future_status::ready);
  EXPECT_TRUE(remover.get()) << "removeObserver returned while the observer was still running";
  ASSERT_EQ(poster.wait_for(kPatience), std::future_status::ready);
}

TEST(NotificationCenterConcurrencyTest, ObserverRemovingItselfWhilePostedFromManyThreadsDoesNotDeadlock) {
  constexpr int kThreads = 4;
  for (int round = 0; round < 50; ++round) {
    NotificationCenter center;
    std::atomic<int> calls{0};
    NotificationCenter::ObserverToken token;
    std::atomic<bool> registered{false};
    token = center.addObserver("n", [&](const Notification&) {
      ++calls;
      if (registered) center.removeObserver(token);
    });
    registered = true;

    std::vector<std::future<void>> posters;
    for (int t = 0; t < kThreads; ++t) {
      posters.push_back(std::async(std::launch::async, [&] {
        for (int i = 0; i < 20; ++i) center.post("n");
      }));
    }
    for (auto& poster : posters) ASSERT_EQ(poster.wait_for(kPatience), std::future_status::ready);
    EXPECT_GE(calls.load(), 1);
    EXPECT_EQ(center.observerCount(), 0u);
    int settled = calls.load();
    center.post("n");
    EXPECT_EQ(calls.load(), settled);
  }
}

TEST(NotificationCenterConcurrencyTest, AddingRemovingAndPostingFromManyThreads) {
  NotificationCenter center;
  auto queue = DispatchQueue::makeSerial("stress observer queue");
  std::atomic<int> calls{0};
  std::vector<std::future<void>> workers;
  for (int t = 0; t < 4; ++t) {
    workers.push_back(std::async(std::launch::async, [&, t] {
      for (int i = 0; i < 200; ++i) {
        auto token = center.addObserver(i % 2 ? std::optional<std::string>("n") : std::nullopt,
                                        t % 2 ? queue : nullptr, [&](const Notification&) { ++calls; });
        center.post("n", i);
        center.removeObserver(token);
      }
    }));
  }
  for (auto& worker : workers) ASSERT_EQ(worker.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(center.observerCount(), 0u);
  EXPECT_GT(calls.load(), 0);
  // Deliveries still queued for removed observers must not run: drain and check the count.
  int settled = calls.load();
  std::promise<void> drained;
  queue->async([&] { drained.set_value(); });
  ASSERT_EQ(drained.get_future().wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(calls.load(), settled);
}

}  // namespace
}  // namespace vantelkit::platform
