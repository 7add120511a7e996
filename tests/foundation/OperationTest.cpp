#include "vantelkit/foundation/Operation.h"

#include <gtest/gtest.h>

#include "support/BoundedWait.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace vantelkit {
namespace {

constexpr double kWait = 20.0;  // generous bound: a deadlock fails instead of hanging

class RecordingOperation : public Operation {
 public:
  RecordingOperation(std::mutex& mutex, std::vector<int>& log, int id) : _mutex(mutex), _log(log), _id(id) {}
  void main() override {
    std::lock_guard lock(_mutex);
    _log.push_back(_id);
  }

 private:
  std::mutex& _mutex;
  std::vector<int>& _log;
  int _id;
};

using vantelkit::testing::Gate;

TEST(OperationTest, RunsMainOnceThenCompletionAndFinishHandlers) {
  OperationQueue queue("test");
  std::atomic<int> runs{0};
  std::atomic<int> completions{0};
  std::atomic<int> handlers{0};
  struct Counting : Operation {
    explicit Counting(std::atomic<int>& runs) : runs(runs) {}
    void main() override { ++runs; }
    std::atomic<int>& runs;
  };
  auto operation = std::make_shared<Counting>(runs);
  operation->setCompletionBlock([&] { ++completions; });
  operation->addFinishHandler([&] { ++handlers; });
  EXPECT_TRUE(operation->isReady());
  queue.addOperation(operation);
  queue.addOperation(operation);  // ignored
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_TRUE(operation->isFinished());
  EXPECT_FALSE(operation->isExecuting());
  operation->start();  // a second start is ignored
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(handlers, 1);
  operation->addFinishHandler([&] { ++handlers; });  // runs at once once finished
  EXPECT_EQ(handlers, 2);
  EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationTest, DependenciesOrderExecutionAcrossQueues) {
  OperationQueue first("first");
  OperationQueue second("second");
  std::mutex mutex;
  std::vector<int> log;
  std::vector<std::shared_ptr<Operation>> chain;
  for (int i = 0; i < 50; ++i) {
    chain.push_back(std::make_shared<RecordingOperation>(mutex, log, i));
    if (i > 0) chain[i]->addDependency(chain[i - 1]);
  }
  EXPECT_FALSE(chain[1]->isReady());
  // Added in reverse, alternating queues: only the dependencies decide the order.
  for (int i = 49; i >= 0; --i) (i % 2 ? first : second).addOperation(chain[i]);
  ASSERT_TRUE(first.waitUntilAllOperationsAreFinished(kWait));
  ASSERT_TRUE(second.waitUntilAllOperationsAreFinished(kWait));
  ASSERT_EQ(log.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(log[i], i);
  EXPECT_EQ(chain[3]->dependencies(), std::vector<std::shared_ptr<Operation>>{chain[2]});
}

TEST(OperationTest, CancelledOperationSkipsMainButStillFinishesAndReleasesDependents) {
  OperationQueue queue;
  queue.setSuspended(true);
  std::mutex mutex;
  std::vector<int> log;
  auto cancelled = std::make_shared<RecordingOperation>(mutex, log, 1);
  auto dependent = std::make_shared<RecordingOperation>(mutex, log, 2);
  dependent->addDependency(cancelled);
  queue.addOperations(std::vector<std::shared_ptr<Operation>>{cancelled, dependent});
  EXPECT_EQ(queue.operationCount(), 2u);
  queue.cancelAllOperations();
  EXPECT_TRUE(dependent->isCancelled());
  auto survivor = std::make_shared<RecordingOperation>(mutex, log, 3);
  survivor->addDependency(cancelled);
  queue.addOperation(survivor);
  queue.setSuspended(false);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(log, std::vector<int>{3});
  EXPECT_TRUE(cancelled->isFinished());
  EXPECT_TRUE(dependent->isFinished());
}

TEST(OperationTest, SuspendedQueueStartsNothingUntilResumed) {
  OperationQueue queue;
  queue.setSuspended(true);
  EXPECT_TRUE(queue.isSuspended());
  std::atomic<int> runs{0};
  for (int i = 0; i < 10; ++i) queue.addOperation([&] { ++runs; });
  EXPECT_FALSE(queue.waitUntilAllOperationsAreFinished(0.01));
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(queue.operationCount(), 10u);
  queue.setSuspended(false);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(runs, 10);
}

TEST(OperationTest, MaxConcurrentOperationCountOneRunsInOrderOneAtATime) {
  OperationQueue queue;
  queue.setMaxConcurrentOperationCount(1);
  EXPECT_EQ(queue.maxConcurrentOperationCount(), 1);
  std::atomic<int> running{0};
  std::atomic<int> peak{0};
  std::mutex mutex;
  std::vector<int> order;
  for (int i = 0; i < 200; ++i) {
    queue.addOperation([&, i] {
      int now = ++running;
      int seen = peak.load();
      while (now > seen && !peak.compare_exchange_weak(seen, now)) {
      }
      {
        std::lock_guard lock(mutex);
        order.push_back(i);
      }
      --running;
    });
  }
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(peak, 1);
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
}

TEST(OperationTest, WaitCoversOperationsAddedByRunningOperations) {
  OperationQueue queue;
  std::atomic<int> visited{0};
  // A fan-out of depth 6 and width 3, each level added by the level above while it runs.
  std::function<void(int)> visit = [&](int depth) {
    ++visited;
    if (depth == 0) return;
    for (int i = 0; i < 3; ++i) queue.addOperation([&visit, depth] { visit(depth - 1); });
  };
  queue.addOperation([&] { visit(6); });
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(visited, 1 + 3 + 9 + 27 + 81 + 243 + 729);
}

TEST(OperationTest, BlockingOperationsDoNotStarveTheQueue) {
  // Every operation waits until all of them run at once: the pool must grow.
  constexpr int kCount = 24;
  OperationQueue queue;
  std::mutex mutex;
  std::condition_variable allIn;
  int arrived = 0;
  std::atomic<int> metAll{0};
  for (int i = 0; i < kCount; ++i) {
    queue.addOperation([&] {
      std::unique_lock lock(mutex);
      ++arrived;
      allIn.notify_all();
      if (allIn.wait_for(lock, std::chrono::duration<double>(kWait), [&] { return arrived == kCount; })) ++metAll;
    });
  }
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait * 2));
  EXPECT_EQ(metAll, kCount);
}

TEST(OperationTest, OperationWaitingOnAnotherQueueFromInsideAnOperation) {
  OperationQueue outer;
  OperationQueue inner;
  std::atomic<int> innerRuns{0};
  std::atomic<bool> waited{false};
  outer.addOperation([&] {
    for (int i = 0; i < 100; ++i) inner.addOperation([&] { ++innerRuns; });
    waited = inner.waitUntilAllOperationsAreFinished(kWait);
  });
  ASSERT_TRUE(outer.waitUntilAllOperationsAreFinished(kWait * 2));
  EXPECT_TRUE(waited);
  EXPECT_EQ(innerRuns, 100);
}

TEST(OperationTest, DestroyedQueueLetsItsOperationsRunToTheEnd) {
  auto gate = std::make_shared<Gate>();
  auto done = std::make_shared<Gate>();
  auto runs = std::make_shared<std::atomic<int>>(0);
  {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    queue.addOperation([gate] { gate->wait(); });
    for (int i = 0; i < 20; ++i) {
      queue.addOperation([runs, done] {
        if (++*runs == 20) done->open();
      });
    }
  }
  gate->open();
  ASSERT_TRUE(done->wait());
  EXPECT_EQ(*runs, 20);
}

TEST(OperationTest, RemovingTheLastUnfinishedDependencyMakesTheOperationRun) {
  OperationQueue queue;
  auto never = std::make_shared<Operation>();  // never queued
  auto waiting = std::make_shared<Operation>();
  waiting->addDependency(never);
  queue.addOperation(waiting);
  EXPECT_FALSE(waiting->waitUntilFinished(0.01));
  waiting->removeDependency(never);
  EXPECT_TRUE(waiting->waitUntilFinished(kWait));
  EXPECT_TRUE(waiting->dependencies().empty());
}

TEST(OperationTest, DroppingALongUnrunChainDoesNotRecursePerLink) {
  std::shared_ptr<Operation> tail = std::make_shared<Operation>();
  for (int i = 0; i < 200000; ++i) {
    auto next = std::make_shared<Operation>();
    next->addDependency(tail);
    tail = std::move(next);
  }
  tail.reset();  // would overflow the stack if each link released the next recursively
  SUCCEED();
}

TEST(OperationTest, CompletionBlockCapturingItsOperationDoesNotLeak) {
  OperationQueue queue;
  auto operation = std::make_shared<Operation>();
  std::weak_ptr<Operation> weak = operation;
  operation->setCompletionBlock([operation] { (void)operation; });
  queue.addOperation(operation);
  operation.reset();
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  // The finishing thread lets go of its last reference just after the queue learnt of the end.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kWait);
  while (!weak.expired() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(weak.expired());
}

TEST(OperationTest, UnderlyingSerialQueueRunsTheOperations) {
  OperationQueue queue;
  auto serial = DispatchQueue::makeSerial("underlying");
  queue.setUnderlyingQueue(serial);
  std::atomic<int> offQueue{0};
  for (int i = 0; i < 20; ++i) {
    queue.addOperation([&] {
      if (DispatchQueue::current() != serial) ++offQueue;
    });
  }
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(offQueue, 0);
}

}  // namespace
}  // namespace vantelkit
