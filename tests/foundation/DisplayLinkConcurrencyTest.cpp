#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "support/BoundedWait.h"
#include "support/FakePlatformLog.h"
#include "support/FakeRefreshSource.h"
#include "vantelkit/foundation/DisplayLink.h"

namespace vantelkit {
namespace {

using namespace std::chrono_literals;
using fakes::FakeRefreshSource;


using vantelkit::testing::kPatience;
using vantelkit::testing::waitUntil;

void flush(const std::shared_ptr<DispatchQueue>& queue) { queue->sync([] {}); }

TEST(DisplayLinkConcurrencyTest, RefreshesDuringASlowCallbackAreMergedIntoOneMoreCall) {
  fakes::FakePlatformLog log;
  auto queue = DispatchQueue::makeSerial("slow display queue");
  auto source = std::make_unique<FakeRefreshSource>();
  auto refresh = source->control();
  auto link = DisplayLink::make(queue, std::move(source));
  ASSERT_TRUE(link);

  std::promise<void> entered;
  std::promise<void> release;
  auto released = release.get_future().share();
  std::atomic<int> calls{0};
  link->setCallback([&] {
    if (++calls == 1) {
      entered.set_value();
      released.wait_for(kPatience);
    }
  });
  link->start();
  ASSERT_TRUE(refresh->tick());
  ASSERT_EQ(entered.get_future().wait_for(kPatience), std::future_status::ready);

  // The refresh thread never waits for the busy queue.
  std::thread refresher([&] {
    for (int i = 0; i < 100; ++i) refresh->tick();
  });
  refresher.join();
  release.set_value();
  flush(queue);
  flush(queue);
  EXPECT_EQ(calls, 2);
}

TEST(DisplayLinkConcurrencyTest, SoftwareRefreshDrivesALinkUntilCancelled) {
  fakes::FakePlatformLog log;
  auto queue = DispatchQueue::makeSerial("display queue");
  auto link = DisplayLink::make(queue);
  ASSERT_TRUE(link);
  std::atomic<int> calls{0};
  std::atomic<bool> offQueue{false};
  link->setCallback([&] {
    if (DispatchQueue::current() != queue) offQueue = true;
    ++calls;
  });
  link->start();
  ASSERT_TRUE(waitUntil([&] { return calls >= 3; }));
  EXPECT_FALSE(offQueue);

  link->cancel();
  EXPECT_FALSE(link->running());
  flush(queue);
  int stopped = calls;
  std::this_thread::sleep_for(50ms);  // three refresh periods
  flush(queue);
  EXPECT_EQ(calls, stopped);
  EXPECT_EQ(log.lines().size(), 2u);
}

TEST(DisplayLinkConcurrencyTest, DestructionWaitsForTheCallbackUnderWay) {
  fakes::FakePlatformLog log;
  auto queue = DispatchQueue::makeSerial("display destroy queue");
  auto source = std::make_unique<FakeRefreshSource>();
  auto refresh = source->control();
  auto link = DisplayLink::make(queue, std::move(source));
  auto inside = std::make_shared<std::atomic<bool>>(false);
  std::promise<void> entered;
  link->setCallback([inside, &entered] {
    *inside = true;
    entered.set_value();
    std::this_thread::sleep_for(20ms);
    *inside = false;
  });
  link->start();
  refresh->tick();
  ASSERT_EQ(entered.get_future().wait_for(kPatience), std::future_status::ready);
  link.reset();
  EXPECT_FALSE(*inside);
  EXPECT_FALSE(refresh->tick());
  flush(queue);
}

TEST(DisplayLinkConcurrencyTest, CallbackChangesWhileRefreshing) {
  fakes::FakePlatformLog log;
  auto queue = DispatchQueue::makeSerial("display change queue");
  auto source = std::make_unique<FakeRefreshSource>();
  auto refresh = source->control();
  auto link = DisplayLink::make(queue, std::move(source));
  std::atomic<int> calls{0};
  link->start();
  std::atomic<bool> done{false};
  std::thread refresher([&] {
    while (!done) {
      refresh->tick();
      std::this_thread::yield();
    }
  });
  for (int i = 0; i < 500; ++i) {
    link->setCallback(i % 3 ? DisplayLink::Callback([&] { ++calls; }) : nullptr);
    (void)link->callback();
    (void)link->running();
  }
  link->setCallback([&] { ++calls; });
  EXPECT_TRUE(waitUntil([&] { return calls >= 1; }));
  done = true;
  refresher.join();
  link.reset();
  flush(queue);
}

}  // namespace
}  // namespace vantelkit
