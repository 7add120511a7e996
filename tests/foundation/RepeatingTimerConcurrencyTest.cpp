#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "support/BoundedWait.h"
#include "vantelkit/foundation/RepeatingTimer.h"

namespace vantelkit {
namespace {

using namespace std::chrono_literals;

constexpr double kInterval = 0.001;

using vantelkit::testing::kPatience;
using vantelkit::testing::waitUntil;

// Runs everything already submitted to a serial queue.
void flush(const std::shared_ptr<DispatchQueue>& queue) { queue->sync([] {}); }

TEST(RepeatingTimerConcurrencyTest, FiresRepeatedlyOnItsQueueOnlyWhileResumed) {
  auto queue = DispatchQueue::makeSerial("repeating timer queue");
  // Declared before the timer, so that they outlive it: the timer is still firing when the
  // test ends, and the handler refers to them.
  std::atomic<int> events{0};
  std::atomic<bool> offQueue{false};
  auto timer = RepeatingTimer::make(kInterval, queue);
  timer->setEventHandler([&] {
    if (DispatchQueue::current() != queue) offQueue = true;
    ++events;
  });

  timer->resume();
  ASSERT_TRUE(waitUntil([&] { return events >= 5; }));
  EXPECT_FALSE(offQueue);

  timer->resume();
  timer->suspend();  // not counted: one suspend() stops it
  flush(queue);
  int stopped = events;
  std::this_thread::sleep_for(30ms);
  flush(queue);
  EXPECT_EQ(events, stopped);

  timer->resume();
  ASSERT_TRUE(waitUntil([&] { return events >= stopped + 3; }));
}

TEST(RepeatingTimerConcurrencyTest, WithoutAQueueFiresOnTheGlobalQueue) {
  std::atomic<int> events{0};  // outlives the timer, whose handler refers to it
  auto timer = RepeatingTimer::make(kInterval);
  timer->setEventHandler([&] { ++events; });
  timer->resume();
  EXPECT_TRUE(waitUntil([&] { return events >= 3; }));
}

// Every sequence of up to four resume()/suspend() calls, then destruction: no event may run
// after the destructor returns and the handler's captures must be released.
TEST(RepeatingTimerConcurrencyTest, EveryOrderOfControlCallsEndsWithoutALateEventOrALeak) {
  auto queue = DispatchQueue::makeSerial("control order queue");
  for (int length = 0; length <= 4; ++length) {
    for (int pattern = 0; pattern < (1 << length); ++pattern) {
      auto destroyed = std::make_shared<std::atomic<bool>>(false);
      auto lateEvents = std::make_shared<std::atomic<int>>(0);
      {
        auto timer = RepeatingTimer::make(kInterval, queue);
        timer->setEventHandler([destroyed, lateEvents] {
          if (*destroyed) ++*lateEvents;
          std::this_thread::sleep_for(100us);
        });
        for (int step = 0; step < length; ++step) {
          if (pattern & (1 << step)) {
            timer->resume();
          } else {
            timer->suspend();
          }
          std::this_thread::sleep_for(2ms);
        }
      }
      destroyed->store(true);
      std::this_thread::sleep_for(3ms);
      flush(queue);
      EXPECT_EQ(lateEvents->load(), 0) << "length " << length << " pattern " << pattern;
      EXPECT_EQ(destroyed.use_count(), 1) << "handler not released; length " << length << " pattern " << pattern;
    }
  }
}

TEST(RepeatingTimerConcurrencyTest, DestructionWaitsForTheHandlerUnderWay) {
  auto queue = DispatchQueue::makeSerial("slow handler queue");
  auto inside = std::make_shared<std::atomic<bool>>(false);
  std::promise<void> entered;
  std::atomic<bool> signalled{false};
  auto timer = RepeatingTimer::make(kInterval, queue);
  timer->setEventHandler([inside, &entered, &signalled] {
    *inside = true;
    if (!signalled.exchange(true)) entered.set_value();
    std::this_thread::sleep_for(20ms);
    *inside = false;
  });
  timer->resume();
  ASSERT_EQ(entered.get_future().wait_for(kPatience), std::future_status::ready);
  timer.reset();
  EXPECT_FALSE(*inside);
  flush(queue);
}

TEST(RepeatingTimerConcurrencyTest, DestructionDiscardsEventsQueuedButNotStarted) {
  auto queue = DispatchQueue::makeSerial("blocked timer queue");
  auto blocker = std::make_shared<testing::Gate>();
  queue->async([blocker] { blocker->wait(); });
  auto events = std::make_shared<std::atomic<int>>(0);
  {
    auto timer = RepeatingTimer::make(kInterval, queue);
    timer->setEventHandler([events] { ++*events; });
    timer->resume();
    // Events come due meanwhile and wait behind the blocked queue.
    std::this_thread::sleep_for(10ms);
  }
  blocker->open();
  flush(queue);
  EXPECT_EQ(events->load(), 0);
  EXPECT_EQ(events.use_count(), 1);
}

TEST(RepeatingTimerConcurrencyTest, ReplacedHandlerTakesOverAndNoneSilencesWithoutStopping) {
  auto queue = DispatchQueue::makeSerial("handler change queue");
  std::atomic<int> first{0};  // both outlive the timer, whose handlers refer to them
  std::atomic<int> second{0};
  auto timer = RepeatingTimer::make(kInterval, queue);
  timer->setEventHandler([&] { ++first; });
  timer->resume();
  ASSERT_TRUE(waitUntil([&] { return first >= 2; }));

  timer->setEventHandler([&] { ++second; });
  int firstAtChange = first;
  ASSERT_TRUE(waitUntil([&] { return second >= 3; }));
  EXPECT_LE(first, firstAtChange + 1);  // at most the event that was already under way

  timer->setEventHandler(nullptr);
  flush(queue);
  int secondAtSilence = second;
  std::this_thread::sleep_for(20ms);
  flush(queue);
  EXPECT_EQ(second, secondAtSilence);
  EXPECT_EQ(timer->state(), RepeatingTimer::State::resumed);

  // Still running: a new handler is called without another resume().
  timer->setEventHandler([&] { ++first; });
  int firstBefore = first;
  EXPECT_TRUE(waitUntil([&] { return first > firstBefore; }));
}

TEST(RepeatingTimerConcurrencyTest, HandlerMayDestroyItsOwnTimer) {
  auto queue = DispatchQueue::makeSerial("self destroying queue");
  std::mutex mutex;
  std::atomic<int> events{0};
  auto timer = RepeatingTimer::make(kInterval, queue);
  std::shared_ptr<RepeatingTimer> slot;  // guarded by mutex: the only reference to the timer
  timer->setEventHandler([&] {
    ++events;
    std::shared_ptr<RepeatingTimer> self;
    {
      std::lock_guard lock(mutex);
      self = std::move(slot);
    }
    self.reset();  // the last reference: destroys the timer from inside its own handler
  });
  {
    std::lock_guard lock(mutex);
    slot = std::move(timer);
    slot->resume();
  }
  ASSERT_TRUE(waitUntil([&] {
    std::lock_guard lock(mutex);
    return !slot && events >= 1;
  }));
  std::this_thread::sleep_for(10ms);
  flush(queue);
  EXPECT_EQ(events, 1);
}

TEST(RepeatingTimerConcurrencyTest, ControlAndHandlerChangesFromManyThreads) {
  auto queue = DispatchQueue::makeSerial("contended timer queue");
  std::atomic<int> events{0};  // outlives the timer, whose handlers refer to it
  auto timer = RepeatingTimer::make(kInterval, queue);
  std::vector<std::future<void>> workers;
  for (int t = 0; t < 4; ++t) {
    workers.push_back(std::async(std::launch::async, [&, t] {
      for (int i = 0; i < 200; ++i) {
        switch ((i + t) % 4) {
          case 0: timer->resume(); break;
          case 1: timer->suspend(); break;
          case 2: timer->setEventHandler([&] { ++events; }); break;
          default: (void)timer->state(); break;
        }
      }
    }));
  }
  for (auto& worker : workers) ASSERT_EQ(worker.wait_for(kPatience), std::future_status::ready);
  timer->resume();
  EXPECT_TRUE(waitUntil([&] { return events >= 1; }));
  timer.reset();
  flush(queue);
}

}  // namespace
}  // namespace vantelkit
