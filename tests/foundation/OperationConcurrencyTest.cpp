#include "vantelkit/foundation/Operation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace vantelkit {
namespace {

constexpr double kWait = 60.0;

class CheckingOperation : public Operation {
 public:
  std::atomic<int> runs{0};
  std::atomic<bool> done{false};
  std::atomic<int> orderViolations{0};
  std::vector<std::shared_ptr<CheckingOperation>> before;  // set before queueing

  void main() override {
    ++runs;
    for (const auto& dependency : before) {
      if (!dependency->done.load()) ++orderViolations;
    }
  }
};

TEST(OperationConcurrencyTest, RandomGraphsOnSeveralQueuesRunEachOperationAtMostOnceInOrder) {
  std::mt19937 random(20240607);
  constexpr int kCount = 3000;
  std::vector<std::unique_ptr<OperationQueue>> queues;
  for (int i = 0; i < 4; ++i) queues.push_back(std::make_unique<OperationQueue>("queue " + std::to_string(i)));
  queues[1]->setMaxConcurrentOperationCount(1);
  queues[2]->setMaxConcurrentOperationCount(3);

  std::vector<std::shared_ptr<CheckingOperation>> operations;
  for (int i = 0; i < kCount; ++i) {
    auto operation = std::make_shared<CheckingOperation>();
    int dependencyCount = i == 0 ? 0 : static_cast<int>(random() % 4);
    for (int d = 0; d < dependencyCount; ++d) {
      auto& dependency = operations[random() % i];
      operation->before.push_back(dependency);
      operation->addDependency(dependency);
    }
    operation->setCompletionBlock([raw = operation.get()] { raw->done = true; });
    operations.push_back(std::move(operation));
  }
  // Queue from several threads at once while others cancel at random.
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; i < kCount; i += 4) queues[(i * 7 + t) % 4]->addOperation(operations[i]);
    });
  }
  threads.emplace_back([&] {
    std::mt19937 local(7);
    for (int i = 0; i < kCount / 10; ++i) operations[local() % kCount]->cancel();
  });
  for (auto& thread : threads) thread.join();
  for (auto& queue : queues) ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kWait));

  for (const auto& operation : operations) {
    EXPECT_TRUE(operation->isFinished());
    EXPECT_LE(operation->runs.load(), 1);
    if (!operation->isCancelled()) {
      EXPECT_EQ(operation->runs.load(), 1);
    }
    EXPECT_EQ(operation->orderViolations.load(), 0);
  }
}

TEST(OperationConcurrencyTest, CancelAllWhileOperationsAddMoreLeavesNothingBehind) {
  for (int round = 0; round < 20; ++round) {
    OperationQueue queue;
    std::atomic<int> started{0};
    std::function<void(int)> spawn = [&](int depth) {
      ++started;
      if (depth == 0) return;
      for (int i = 0; i < 4; ++i) queue.addOperation([&spawn, depth] { spawn(depth - 1); });
    };
    queue.addOperation([&] { spawn(5); });
    queue.cancelAllOperations();
    std::thread canceller([&] {
      for (int i = 0; i < 50; ++i) queue.cancelAllOperations();
    });
    canceller.join();
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
    EXPECT_EQ(queue.operationCount(), 0u);
  }
}

}  // namespace
}  // namespace vantelkit
