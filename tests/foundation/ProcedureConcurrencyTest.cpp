#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/CapturingLogger.h"
#include "vantelkit/foundation/AsyncProcedure.h"
#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/GeneralError.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/ProcedureQueue.h"

namespace vantelkit {
namespace {

using testing::CapturingLogger;
using testing::ScopedLogLevel;

constexpr double kWait = 120.0;

// Counts the life events of one procedure.
struct Tally {
  std::atomic<int> executions{0};
  std::atomic<int> willFinish{0};
  std::atomic<int> didFinish{0};
  std::atomic<int> earlyStarts{0};  // executed before a dependency had finished
};

void attachTally(const std::shared_ptr<Procedure>& procedure, const std::shared_ptr<Tally>& tally) {
  procedure->addWillFinishBlockObserver([tally](Procedure&, const ErrorPtr&) { ++tally->willFinish; });
  procedure->addDidFinishBlockObserver([tally](Procedure&, const ErrorPtr&) { ++tally->didFinish; });
  procedure->addWillExecuteBlockObserver([tally](Procedure& procedure) {
    ++tally->executions;
    for (const auto& dependency : procedure.dependencies()) {
      if (!dependency->isFinished()) ++tally->earlyStarts;
    }
  });
}

class Builder {
 public:
  explicit Builder(unsigned seed) : _random(seed) {}

  // A leaf: finishing at once, failing, or finishing later from another thread.
  std::shared_ptr<Procedure> leaf() {
    switch (_random() % 3) {
      case 0:
        return track(std::make_shared<BlockProcedure>([] {}));
      case 1:
        return track(std::make_shared<BlockProcedure>([] { return makeError<GeneralError>(GeneralError::unknown()); }));
      default:
        return track(std::make_shared<BlockProcedure>([](BlockProcedure& self) {
          auto strong = self.sharedAs<BlockProcedure>();
          DispatchQueue::global()->async([strong] { strong->finish(); });
        }));
    }
  }

  std::shared_ptr<Procedure> any(int depth) {
    if (depth == 0 || _random() % 3 != 0) return leaf();
    std::vector<std::shared_ptr<Operation>> children;
    int count = 1 + static_cast<int>(_random() % 4);
    for (int i = 0; i < count; ++i) {
      auto child = any(depth - 1);
      if (!children.empty() && _random() % 2 == 0) child->addDependency(children[_random() % children.size()]);
      children.push_back(child);
    }
    auto group = std::make_shared<GroupProcedure>(children);
    if (_random() % 4 == 0) group->setMaxConcurrentOperationCount(1);
    return track(group);
  }

  std::vector<std::pair<std::shared_ptr<Procedure>, std::shared_ptr<Tally>>> all;
  std::mt19937& random() { return _random; }

 private:
  std::shared_ptr<Procedure> track(std::shared_ptr<Procedure> procedure) {
    auto tally = std::make_shared<Tally>();
    attachTally(procedure, tally);
    all.emplace_back(procedure, tally);
    return procedure;
  }
  std::mt19937 _random;
};

TEST(ProcedureConcurrencyTest, ThousandsOfProceduresWithDependenciesCancellationsAndGroupsFinishOnce) {
  Builder builder(424242);
  std::vector<std::unique_ptr<ProcedureQueue>> queues;
  for (int i = 0; i < 3; ++i) queues.push_back(std::make_unique<ProcedureQueue>("queue " + std::to_string(i)));
  queues[0]->setMaxConcurrentOperationCount(2);
  std::vector<std::shared_ptr<Procedure>> topLevel;
  for (int i = 0; i < 1200; ++i) {
    auto procedure = builder.any(3);
    int dependencies = static_cast<int>(builder.random()() % 3);
    for (int d = 0; d < dependencies && !topLevel.empty(); ++d) {
      procedure->addDependency(topLevel[builder.random()() % topLevel.size()]);
    }
    topLevel.push_back(procedure);
  }
  ASSERT_GE(builder.all.size(), 2000u);

  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (std::size_t i = t; i < topLevel.size(); i += 3) queues[(i / 3) % 3]->addOperation(topLevel[i]);
    });
  }
  threads.emplace_back([&] {
    std::mt19937 random(99);
    for (int i = 0; i < 300; ++i) {
      auto& victim = builder.all[random() % builder.all.size()].first;
      if (i % 2) {
        victim->cancel();
      } else {
        victim->cancel(makeError<GeneralError>(GeneralError::featureNotAvalable()));
      }
      std::this_thread::yield();
    }
  });
  for (auto& thread : threads) thread.join();
  for (auto& queue : queues) ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kWait));

  for (std::size_t i = 0; i < builder.all.size(); ++i) {
    const auto& [procedure, tally] = builder.all[i];
    ASSERT_TRUE(procedure->isFinished()) << i;
    EXPECT_EQ(tally->willFinish.load(), 1) << i;
    EXPECT_EQ(tally->didFinish.load(), 1) << i;
    EXPECT_LE(tally->executions.load(), 1) << i;
    EXPECT_EQ(tally->earlyStarts.load(), 0) << i;
  }
}

TEST(ProcedureConcurrencyTest, CancellingGroupsWhileTheirChildrenRun) {
  for (int round = 0; round < 30; ++round) {
    ProcedureQueue queue;
    std::atomic<int> started{0};
    std::vector<std::shared_ptr<Operation>> children;
    for (int i = 0; i < 12; ++i) {
      children.push_back(std::make_shared<BlockProcedure>([&](BlockProcedure& self) {
        ++started;
        auto strong = self.sharedAs<BlockProcedure>();
        // Ends only once it sees the cancellation, from another thread.
        std::thread([strong] {
          for (int spins = 0; !strong->isCancelled() && spins < 50000000; ++spins) std::this_thread::yield();
          strong->finish();
        }).detach();
      }));
    }
    auto inner = std::make_shared<GroupProcedure>(std::vector<std::shared_ptr<Operation>>(children.begin() + 6, children.end()));
    std::vector<std::shared_ptr<Operation>> outerChildren(children.begin(), children.begin() + 6);
    outerChildren.push_back(inner);
    auto outer = std::make_shared<GroupProcedure>(outerChildren);
    queue.addOperation(outer);
    while (started.load() < 1) std::this_thread::yield();
    std::thread canceller([&] { outer->cancel(); });
    std::thread adder([&] { outer->addChild(std::make_shared<BlockProcedure>([] {})); });
    canceller.join();
    adder.join();
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
    for (const auto& child : children) {
      EXPECT_TRUE(child->isCancelled());
      EXPECT_TRUE(child->isFinished());
    }
    EXPECT_TRUE(inner->isFinished());
  }
}

TEST(ProcedureConcurrencyTest, TimedProceduresCancelledAtTheTimeoutLogOnceAtMost) {
  ScopedLogLevel level(LogLevel::warning);
  CapturingLogger::shared().clear();
  double previous = AsyncProcedure::defaultTimeoutInterval();
  AsyncProcedure::setDefaultTimeoutInterval(0.02);
  ProcedureQueue queue;
  constexpr int kCount = 200;
  std::vector<std::shared_ptr<AsyncProcedure>> procedures;
  std::vector<std::shared_ptr<std::atomic<bool>>> cancelledByTimeout;
  std::vector<std::shared_ptr<std::atomic<int>>> cancelCount;
  for (int i = 0; i < kCount; ++i) {
    auto procedure = std::make_shared<AsyncProcedure>(true, [](AsyncProcedure&) {});
    procedure->setName("timed-" + std::to_string(i) + ".");
    auto byTimeout = std::make_shared<std::atomic<bool>>(false);
    auto cancels = std::make_shared<std::atomic<int>>(0);
    procedure->addDidCancelBlockObserver([byTimeout, cancels](Procedure&, const ErrorPtr& error) {
      ++*cancels;
      *byTimeout = errorAs<ProcedureKitError>(error) != nullptr;
    });
    procedures.push_back(procedure);
    cancelledByTimeout.push_back(byTimeout);
    cancelCount.push_back(cancels);
  }
  queue.addOperations(procedures);
  // Race the time-outs with callers cancelling about half of them.
  std::thread canceller([&] {
    for (int i = 0; i < kCount; i += 2) {
      procedures[i]->cancel();
      if (i % 8 == 0) std::this_thread::yield();
    }
  });
  canceller.join();
  // Every procedure ends: by the time-out when nobody else finishes it.
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  AsyncProcedure::setDefaultTimeoutInterval(previous);
  for (int i = 0; i < kCount; ++i) {
    auto lines = CapturingLogger::shared().linesContaining("timed-" + std::to_string(i) + ".: Block not finished");
    EXPECT_EQ(cancelCount[i]->load(), 1) << i;
    EXPECT_EQ(lines.size(), *cancelledByTimeout[i] ? 1u : 0u) << i;
    EXPECT_TRUE(procedures[i]->isCancelled());
    if (*cancelledByTimeout[i]) {
      EXPECT_NE(errorAs<ProcedureKitError>(procedures[i]->error()), nullptr) << i;
    }
  }
}

}  // namespace
}  // namespace vantelkit
