#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "support/BoundedWait.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/DispatchSource.h"

namespace vantelkit {
namespace {

using namespace std::chrono_literals;

// The tests never wait unbounded.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
  return testing::waitUntil(condition, limit);
}

TEST(DispatchConcurrencyTest, BlockedWorkersDoNotStarveThePool) {
  // Each task waits until all 32 have started: only a pool that grows can finish them.
  constexpr int kTasks = 32;
  std::mutex mutex;
  std::condition_variable allStarted;
  int started = 0;
  std::atomic<int> finished{0};
  for (int i = 0; i < kTasks; ++i) {
    DispatchQueue::global()->async([&] {
      std::unique_lock lock(mutex);
      ++started;
      allStarted.notify_all();
      allStarted.wait_for(lock, 30s, [&] { return started == kTasks; });
      lock.unlock();
      ++finished;  // last touch of the test's stack
    });
  }
  ASSERT_TRUE(waitFor([&] { return finished == kTasks; }, 30s));
  EXPECT_GE(dispatchPoolStatistics().peakThreads, static_cast<std::size_t>(kTasks));
}

TEST(DispatchConcurrencyTest, SyncFromPoolThreadsOnABusySerialQueueCompletes) {
  auto serial = DispatchQueue::makeSerial("test.busy");
  std::atomic<int> done{0};
  std::atomic<int> counter{0};
  for (int i = 0; i < 64; ++i) {
    DispatchQueue::global()->async([&] {
      for (int j = 0; j < 20; ++j) serial->sync([&] { ++counter; });
      ++done;
    });
  }
  ASSERT_TRUE(waitFor([&] { return done == 64; }, 30s));
  EXPECT_EQ(counter.load(), 64 * 20);
}

TEST(DispatchConcurrencyTest, QueuesBehindASerialTargetNeverOverlapIt) {
  // Two queues on one serial target, fed with async and sync work from several threads
  // (sync often finds its queue idle), while the target gets work of its own.
  auto target = DispatchQueue::makeSerial("test.target");
  auto first = DispatchQueue::makeSerial("test.first", QualityOfService::unspecified, target);
  auto second = DispatchQueue::makeSerial("test.second", QualityOfService::unspecified, target);
  // Behind `first`: its work must hold the whole chain up to the target.
  auto nested = DispatchQueue::makeSerial("test.nested", QualityOfService::unspecified, first);
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> ran{0};
  auto item = [&] {
    if (inside.fetch_add(1) != 0) ++overlaps;
    std::this_thread::yield();
    inside.fetch_sub(1);
    ++ran;
  };
  constexpr int kThreads = 4;
  constexpr int kPerThread = 1500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::shared_ptr<DispatchQueue> queues[] = {target, first, second, nested};
      for (int i = 0; i < kPerThread; ++i) {
        auto& queue = queues[(t + i) % 4];
        if (i % 3 == 0) {
          queue->async(item);
        } else {
          queue->sync(item);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(waitFor([&] { return ran == kThreads * kPerThread; }, 30s));
  EXPECT_EQ(overlaps.load(), 0);
}

TEST(DispatchConcurrencyTest, SerialQueueKeepsEachProducersOrder) {
  auto queue = DispatchQueue::makeSerial("test.producers");
  constexpr int kProducers = 4;
  constexpr int kItems = 2000;
  std::vector<std::vector<int>> seen(kProducers);
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kItems; ++i) {
        queue->async([&, p, i] {
          if (++inside != 1) overlap = true;
          seen[p].push_back(i);
          --inside;
        });
      }
    });
  }
  for (auto& t : producers) t.join();
  queue->sync([] {});
  EXPECT_FALSE(overlap);
  for (auto& list : seen) {
    ASSERT_EQ(list.size(), static_cast<std::size_t>(kItems));
    for (int i = 0; i < kItems; ++i) ASSERT_EQ(list[i], i);
  }
}

TEST(DispatchConcurrencyTest, TimerSuspendResumeCancelDestroyInEveryOrder) {
  // Every order of the control calls ends without a crash, a leak or an event after the end.
  const std::vector<std::vector<char>> orders = {
      {}, {'r'}, {'s'}, {'c'}, {'r', 's'}, {'s', 'r'}, {'r', 'c'}, {'c', 'r'}, {'s', 'c'}, {'c', 's'},
      {'r', 's', 'c'}, {'r', 'c', 's'}, {'s', 'r', 'c'}, {'s', 'c', 'r'}, {'c', 'r', 's'}, {'c', 's', 'r'},
      {'s', 's', 'r', 'r'}, {'r', 'r'}};
  for (auto& order : orders) {
    auto fired = std::make_shared<std::atomic<int>>(0);
    auto alive = std::make_shared<std::atomic<bool>>(true);
    {
      auto timer = DispatchSourceTimer::make(DispatchQueue::makeSerial("test.timer"));
      timer->setEventHandler([fired, alive] {
        EXPECT_TRUE(alive->load());
        ++*fired;
      });
      timer->schedule(dispatchTimeAfter(0.001), 0.001);
      for (char step : order) {
        if (step == 'r') timer->resume();
        if (step == 's') timer->suspend();
        if (step == 'c') timer->cancel();
      }
      std::this_thread::sleep_for(5ms);
      timer->setEventHandler(nullptr);
      timer->cancel();
      alive->store(false);
    }
    const int after = fired->load();
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(fired->load(), after);
  }
}

TEST(DispatchConcurrencyTest, RepeatingTimerFiresWhileResumedAndStopsWhenSuspended) {
  auto timer = DispatchSourceTimer::make(DispatchQueue::makeSerial("test.repeat"));
  auto firedCount = std::make_shared<std::atomic<int>>(0);
  auto& fired = *firedCount;
  timer->setEventHandler([firedCount] { ++*firedCount; });
  timer->schedule(dispatchTimeAfter(0.002), 0.002);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(fired.load(), 0) << "a new source is suspended";
  timer->resume();
  ASSERT_TRUE(waitFor([&] { return fired >= 3; }));
  timer->suspend();
  std::this_thread::sleep_for(10ms);  // a delivery already under way may still finish
  const int atSuspend = fired.load();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(fired.load(), atSuspend);
  timer->resume();
  ASSERT_TRUE(waitFor([&] { return fired > atSuspend; }));
  timer->cancel();
  std::this_thread::sleep_for(10ms);
  const int atCancel = fired.load();
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(fired.load(), atCancel);
}

TEST(DispatchConcurrencyTest, SuspensionIsCountedAndOverResumeIgnored) {
  auto source = DispatchSourceUserDataAdd::make(DispatchQueue::makeSerial("test.count"));
  auto totalCount = std::make_shared<std::atomic<std::uint64_t>>(0);
  auto& total = *totalCount;
  std::weak_ptr<DispatchSourceUserDataAdd> weakSource = source;
  source->setEventHandler([totalCount, weakSource] {
    if (auto self = weakSource.lock()) *totalCount += self->data();
  });
  source->resume();
  source->resume();  // over-resume: ignored
  source->suspend();
  source->suspend();
  source->add(5);
  source->resume();
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(total.load(), 0u) << "still suspended once";
  source->resume();
  ASSERT_TRUE(waitFor([&] { return total == 5; }));
  source->cancel();
}

TEST(DispatchConcurrencyTest, DataAddMergesAdditionsUnderASlowHandler) {
  auto source = DispatchSourceUserDataAdd::make(DispatchQueue::global());
  // Shared with the handler, which may still be finishing its last turn when the test ends.
  struct State {
    std::atomic<std::uint64_t> total{0};
    std::atomic<int> calls{0};
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
  };
  auto state = std::make_shared<State>();
  std::weak_ptr<DispatchSourceUserDataAdd> weakSource = source;
  source->setEventHandler([state, weakSource] {
    auto self = weakSource.lock();
    if (!self) return;
    if (++state->inside != 1) state->overlap = true;
    state->total += self->data();
    ++state->calls;
    std::this_thread::sleep_for(5ms);
    --state->inside;
  });
  source->resume();
  std::vector<std::thread> adders;
  for (int t = 0; t < 4; ++t) {
    adders.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        source->add(1);
        if (i % 50 == 0) std::this_thread::sleep_for(1ms);
      }
    });
  }
  for (auto& t : adders) t.join();
  ASSERT_TRUE(waitFor([&] { return state->total == 2000; }));
  EXPECT_FALSE(state->overlap) << "a source's handler never runs concurrently with itself";
  EXPECT_LT(state->calls.load(), 2000);
  source->cancel();
}

TEST(DispatchConcurrencyTest, NoDeliveryAfterCancelSettles) {
  for (int round = 0; round < 50; ++round) {
    auto source = DispatchSourceUserDataAdd::make(DispatchQueue::global());
    auto calls = std::make_shared<std::atomic<int>>(0);
    source->setEventHandler([calls] { ++*calls; });
    source->resume();
    std::thread adder([&] {
      for (int i = 0; i < 200; ++i) source->add(1);
    });
    std::this_thread::sleep_for(std::chrono::microseconds(100 * (round % 5)));
    source->cancel();
    std::this_thread::sleep_for(2ms);  // a delivery under way at cancel() may finish
    const int settled = calls->load();
    adder.join();
    std::this_thread::sleep_for(3ms);
    EXPECT_EQ(calls->load(), settled);
    EXPECT_TRUE(source->isCancelled());
  }
}

TEST(DispatchConcurrencyTest, DroppedResumedTimerStopsAndIsReleased) {
  std::weak_ptr<DispatchSourceTimer> weak;
  auto fired = std::make_shared<std::atomic<int>>(0);
  {
    auto timer = DispatchSourceTimer::make();
    weak = timer;
    timer->setEventHandler([fired] { ++*fired; });
    timer->schedule(dispatchTimeAfter(0), 0.001);
    timer->resume();
    ASSERT_TRUE(waitFor([&] { return *fired > 0; }));
  }
  ASSERT_TRUE(waitFor([&] { return weak.expired(); }));
}

}  // namespace
}  // namespace vantelkit
