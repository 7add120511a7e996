#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

// Runs until it sees the cancellation, then finishes at once (spinning, so that the finish
// follows the flag as closely as it can). Its cancel hook yields a few times, as a hook that
// does a little work would, so that the finish often lands while cancel() is running.
class FinishesOnSeeingTheCancellation final : public Procedure {
 public:
  explicit FinishesOnSeeingTheCancellation(int hookYields = 0) : _hookYields(hookYields) {}

 protected:
  void execute() override {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!isCancelled() && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
    finish();
  }
  void procedureDidCancel(const ErrorPtr&) override {
    for (int i = 0; i < _hookYields; ++i) std::this_thread::yield();
  }

 private:
  int _hookYields;
};

TEST(ProcedureConcurrencyTest, CancelRacingTheFinishTellsEveryObserverOnceBeforeTheFinish) {
  constexpr int kRounds = 20000;
  struct Round {
    std::shared_ptr<Procedure> procedure;
    std::atomic<int> cancels{0};
    std::atomic<int> finishes{0};
    std::atomic<int> cancelsSeenAtFinish{-1};
  };
  std::vector<Round> rounds(kRounds);
  int index = 0;
  for (auto& round : rounds) {
    round.procedure = std::make_shared<FinishesOnSeeingTheCancellation>(index++ % 4);
    Round* r = &round;
    round.procedure->addDidCancelBlockObserver([r](Procedure&, const ErrorPtr&) { ++r->cancels; });
    round.procedure->addDidFinishBlockObserver([r](Procedure&, const ErrorPtr&) {
      r->cancelsSeenAtFinish = r->cancels.load();
      ++r->finishes;
    });
  }
  // One thread starts each round's procedure as soon as the round is announced; this thread
  // cancels it after a varying number of yields, before or after it began to execute.
  std::atomic<int> announced{-1};
  std::thread starter([&] {
    for (int i = 0; i < kRounds; ++i) {
      const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (announced.load(std::memory_order_acquire) < i && std::chrono::steady_clock::now() < limit) {
        std::this_thread::yield();
      }
      rounds[i].procedure->start();
    }
  });
  std::mt19937 random(2024);
  int unfinished = 0;
  for (int i = 0; i < kRounds; ++i) {
    announced.store(i, std::memory_order_release);
    for (int spins = static_cast<int>(random() % 8); spins > 0; --spins) std::this_thread::yield();
    if (i % 2) {
      rounds[i].procedure->cancel();
    } else {
      rounds[i].procedure->cancel(makeError<GeneralError>(GeneralError::unknown()));
    }
    if (!rounds[i].procedure->waitUntilFinished(20.0)) ++unfinished;
  }
  starter.join();
  int missed = 0, repeated = 0, late = 0;
  for (const auto& round : rounds) {
    if (round.cancels == 0) ++missed;
    if (round.cancels > 1 || round.finishes != 1) ++repeated;
    if (round.cancelsSeenAtFinish != 1) ++late;
  }
  EXPECT_EQ(unfinished, 0);
  EXPECT_EQ(missed, 0) << "rounds whose did-cancel observer was never called";
  EXPECT_EQ(repeated, 0) << "rounds with a repeated did-cancel or did-finish";
  EXPECT_EQ(late, 0) << "rounds whose did-finish came before the did-cancel";
}

TEST(ProcedureConcurrencyTest, SerialGroupsStopWhenTheRunningChildIsCancelledAsItEnds) {
  constexpr int kRounds = 300;
  ProcedureQueue queue;
  int laterRan = 0, groupsNotCancelled = 0;
  for (int i = 0; i < kRounds; ++i) {
    auto running = std::make_shared<FinishesOnSeeingTheCancellation>(i % 4);
    std::atomic<bool> laterRuns{false};
    auto later = std::make_shared<BlockProcedure>([&] { laterRuns = true; });
    auto group = GroupProcedure::serial({running, later});
    std::atomic<bool> executing{false};
    running->addWillExecuteBlockObserver([&](Procedure&) { executing = true; });
    queue.addOperation(group);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!executing && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
    running->cancel();
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
    if (laterRuns) ++laterRan;
    if (!group->isCancelled()) ++groupsNotCancelled;
  }
  EXPECT_EQ(laterRan, 0);
  EXPECT_EQ(groupsNotCancelled, 0);
}

}  // namespace
}  // namespace vantelkit
