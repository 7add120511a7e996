#include "vantelkit/foundation/GroupProcedure.h"

#include <gtest/gtest.h>

#include "support/BoundedWait.h"

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/CapturingLogger.h"
#include "support/EndsWhenCancelled.h"
#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/GeneralError.h"
#include "vantelkit/foundation/OutputProcedure.h"

namespace vantelkit {
namespace {

using testing::CapturingLogger;
using testing::ScopedLogLevel;

constexpr double kWait = 20.0;

ErrorPtr unknownError() { return makeError<GeneralError>(GeneralError::unknown()); }

using vantelkit::testing::Gate;

TEST(GroupProcedureTest, FinishesOnlyAfterItsLastChildEvenWhenThatChildEndsLater) {
  ProcedureQueue queue;
  auto gate = std::make_shared<Gate>();
  std::atomic<bool> slowFinished{false};
  auto slow = std::make_shared<BlockProcedure>([gate, &slowFinished](BlockProcedure& self) {
    auto strong = self.sharedAs<BlockProcedure>();
    std::thread([gate, strong, &slowFinished] {
      gate->wait();
      slowFinished = true;
      strong->finish();
    }).detach();
  });
  auto fast = std::make_shared<BlockProcedure>([] {});
  auto group = std::make_shared<GroupProcedure>(std::vector<std::shared_ptr<Operation>>{slow, fast});
  std::atomic<bool> slowDoneAtGroupFinish{false};
  group->addDidFinishBlockObserver([&](Procedure&, const ErrorPtr&) { slowDoneAtGroupFinish = slowFinished.load(); });
  queue.addOperation(group);
  ASSERT_TRUE(fast->waitUntilFinished(kWait));
  EXPECT_FALSE(group->isFinished());
  gate->open();
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_TRUE(slowDoneAtGroupFinish);
  EXPECT_EQ(group->error(), nullptr);
  EXPECT_TRUE(group->children().empty());  // released at the finish
}

// A group whose children are made in execute(), like the scanning groups.
struct Collecting : GroupProcedure, OutputProcedure<int> {
  std::atomic<int> sum{0};
  void execute() override {
    std::vector<std::shared_ptr<Operation>> children;
    for (int i = 1; i <= 10; ++i) children.push_back(std::make_shared<BlockProcedure>([this, i] { sum += i; }));
    auto total = std::make_shared<BlockProcedure>([this] { setSuccess(sum.load()); });
    for (const auto& child : children) total->addDependency(child);
    addChildren(children);
    addChild(total);
    GroupProcedure::execute();
  }
};

TEST(GroupProcedureTest, ChildrenAddedDuringExecuteRunBeforeTheGroupFinishes) {
  ProcedureQueue queue;
  auto group = std::make_shared<Collecting>();
  queue.addOperation(group);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(group->successValue(), std::optional<int>(55));
}

// Children made in the constructor, referring back to the group weakly.
class Doubling : public GroupProcedure, public OutputProcedure<int> {
 public:
  explicit Doubling(int value) {
    auto reference = weakReference<Doubling>();
    referenceInConstructorWasEmpty = reference.lock() == nullptr;
    auto source = std::make_shared<BlockProcedure>([this, value] { _doubled = value * 2; });
    auto result = std::make_shared<BlockProcedure>([reference] {
      if (auto group = reference.lock()) group->setSuccess(group->_doubled);
    });
    result->addDependency(source);
    addChildren(std::vector<std::shared_ptr<Operation>>{result, source});
  }
  bool referenceInConstructorWasEmpty = false;

 private:
  std::atomic<int> _doubled{0};
};

TEST(GroupProcedureTest, ChildrenMadeInTheConstructorReachTheGroupThroughAWeakReference) {
  ProcedureQueue queue;
  auto group = std::make_shared<Doubling>(21);
  EXPECT_TRUE(group->referenceInConstructorWasEmpty);
  auto reference = group->weakReference<Doubling>();
  EXPECT_EQ(reference.lock(), group);  // taken after construction: valid at once
  queue.addOperation(group);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(group->successValue(), std::optional<int>(42));
  EXPECT_EQ(group->weakReference<BlockProcedure>().lock(), nullptr);  // not a BlockProcedure
  std::weak_ptr<Doubling> weak = group;
  group.reset();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kWait);
  while (!weak.expired() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_EQ(reference.lock(), nullptr);
}

TEST(GroupProcedureTest, CancellingTheGroupReachesRunningQueuedAndLaterChildren) {
  ProcedureQueue queue;
  auto started = std::make_shared<Gate>();
  std::atomic<bool> runningSawCancel{false};
  auto running = std::make_shared<BlockProcedure>([&, started](BlockProcedure& self) {
    started->open();
    for (int i = 0; i < 2000000 && !self.isCancelled(); ++i) std::this_thread::yield();
    runningSawCancel = self.isCancelled();
    self.finish();
  });
  std::atomic<int> queuedRuns{0};
  auto queued = std::make_shared<BlockProcedure>([&] { ++queuedRuns; });
  queued->addDependency(running);
  auto group = std::make_shared<GroupProcedure>(std::vector<std::shared_ptr<Operation>>{running, queued});
  queue.addOperation(group);
  ASSERT_TRUE(started->wait());
  group->cancel(unknownError());
  auto late = std::make_shared<BlockProcedure>([&] { ++queuedRuns; });
  group->addChild(late);  // the group still runs: accepted, and cancelled at once
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_TRUE(runningSawCancel);
  EXPECT_TRUE(queued->isCancelled());
  EXPECT_TRUE(late->isCancelled());
  EXPECT_EQ(queuedRuns, 0);
  EXPECT_TRUE(group->isCancelled());
  EXPECT_EQ(group->error()->description(), "unknown");
}

TEST(GroupProcedureTest, ErrorPreferenceExplicitFinishThenChildThenCancellation) {
  ProcedureQueue queue;
  auto childError = unknownError();
  auto failingChild = [&] { return std::make_shared<BlockProcedure>([childError] { return childError; }); };

  auto plain = std::make_shared<GroupProcedure>(std::vector<std::shared_ptr<Operation>>{failingChild()});
  auto explicitError = makeError<GeneralError>(GeneralError::featureNotAvalable());
  auto overriding = std::make_shared<GroupProcedure>();
  std::weak_ptr<GroupProcedure> weakOverriding = overriding;
  auto finisher = std::make_shared<BlockProcedure>([weakOverriding, explicitError] {
    if (auto group = weakOverriding.lock()) group->finish(explicitError);  // deferred until this child ends
  });
  overriding->addChildren(std::vector<std::shared_ptr<Operation>>{failingChild(), finisher});
  overriding->setMaxConcurrentOperationCount(1);
  queue.addOperations(std::vector<std::shared_ptr<Operation>>{plain, overriding});
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(plain->error(), childError);
  EXPECT_EQ(overriding->error(), explicitError);
  EXPECT_TRUE(finisher->isFinished());
}

TEST(GroupProcedureTest, WillFinishObserverThatFinishesAgainIsIgnored) {
  ScopedLogLevel level(LogLevel::warning);
  CapturingLogger::shared().clear();
  ProcedureQueue queue;
  auto group = std::make_shared<GroupProcedure>(std::vector<std::shared_ptr<Operation>>{std::make_shared<BlockProcedure>([] {})});
  std::atomic<int> didFinish{0};
  group->addWillFinishBlockObserver([](Procedure& procedure, const ErrorPtr&) { procedure.finish(); });
  group->addDidFinishBlockObserver([&](Procedure&, const ErrorPtr&) { ++didFinish; });
  queue.addOperation(group);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(didFinish, 1);
  EXPECT_EQ(CapturingLogger::shared().linesContaining("already finished").size(), 1u);
  group->addChild(std::make_shared<BlockProcedure>([] {}));  // after the finish: logged, ignored
  EXPECT_EQ(CapturingLogger::shared().linesContaining("addChild() called on a group that has finished").size(), 1u);
}

TEST(GroupProcedureTest, CancelledBeforeStartStillEndsEveryChild) {
  ProcedureQueue queue;
  std::atomic<int> runs{0};
  std::atomic<int> childFinishes{0};
  std::vector<std::shared_ptr<Operation>> children;
  for (int i = 0; i < 5; ++i) {
    auto child = std::make_shared<BlockProcedure>([&] { ++runs; });
    child->addDidFinishBlockObserver([&](Procedure&, const ErrorPtr&) { ++childFinishes; });
    children.push_back(child);
  }
  auto inner = std::make_shared<GroupProcedure>(children);
  auto outer = std::make_shared<GroupProcedure>(std::vector<std::shared_ptr<Operation>>{inner});
  outer->cancel();
  queue.addOperation(outer);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(childFinishes, 5);
  EXPECT_TRUE(inner->isCancelled());
  EXPECT_TRUE(inner->isFinished());
}

TEST(GroupProcedureTest, SerialDispatchQueueRunsChildrenOneAtATime) {
  ProcedureQueue queue;
  auto serial = DispatchQueue::makeSerial("group children");
  std::atomic<int> running{0};
  std::atomic<int> overlaps{0};
  std::vector<std::shared_ptr<Operation>> children;
  for (int i = 0; i < 50; ++i) {
    children.push_back(std::make_shared<BlockProcedure>([&] {
      if (++running > 1) ++overlaps;
      std::this_thread::yield();
      --running;
    }));
  }
  auto group = std::make_shared<GroupProcedure>(serial, children);
  queue.addOperation(group);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(overlaps, 0);
}

TEST(GroupProcedureTest, SerialGroupStopsAtTheFirstFailure) {
  ProcedureQueue queue;
  std::vector<int> order;
  std::mutex mutex;
  auto step = [&](int id, ErrorPtr error) {
    return std::make_shared<BlockProcedure>([&, id, error]() -> ErrorPtr {
      std::lock_guard lock(mutex);
      order.push_back(id);
      return error;
    });
  };
  auto failure = unknownError();
  auto third = step(3, nullptr);
  auto group = GroupProcedure::serial({step(1, nullptr), step(2, failure), third});
  EXPECT_EQ(group->maxConcurrentOperationCount(), 1);
  auto empty = GroupProcedure::serial({});
  queue.addOperations(std::vector<std::shared_ptr<Procedure>>{group, empty});
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(third->isCancelled());
  EXPECT_TRUE(group->isCancelled());
  EXPECT_EQ(group->error(), failure);
  EXPECT_TRUE(empty->isFinished());
  EXPECT_EQ(empty->error(), nullptr);
}

TEST(GroupProcedureTest, SerialGroupIsCancelledWithACancelledChildsReason) {
  ProcedureQueue queue;
  auto reason = unknownError();
  std::atomic<int> laterRuns{0};
  auto first = std::make_shared<BlockProcedure>([](BlockProcedure& self) {
    self.cancel(makeError<GeneralError>(GeneralError::featureNotAvalable("u")));
    self.finish();
  });
  auto later = std::make_shared<BlockProcedure>([&] { ++laterRuns; });
  auto group = GroupProcedure::serial({first, later});
  queue.addOperation(group);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(laterRuns, 0);
  EXPECT_TRUE(group->isCancelled());
  ASSERT_NE(errorAs<GeneralError>(group->error()), nullptr);
  EXPECT_EQ(errorAs<GeneralError>(group->error())->url(), std::optional<std::string>("u"));
}

TEST(GroupProcedureTest, SerialGroupStopsWhenItsRunningChildIsCancelledFromOutside) {
  ProcedureQueue queue;
  auto running = std::make_shared<testing::EndsWhenCancelled>(true);
  std::atomic<int> laterRuns{0};
  auto later = std::make_shared<BlockProcedure>([&] { ++laterRuns; });
  auto group = GroupProcedure::serial({running, later});
  std::promise<void> executing;
  running->addWillExecuteBlockObserver([&](Procedure&) { executing.set_value(); });
  queue.addOperation(group);
  ASSERT_EQ(executing.get_future().wait_for(std::chrono::duration<double>(kWait)), std::future_status::ready);
  // Without a reason: the child then finishes without an error, so only its did-cancel
  // observer can stop the group.
  running->cancel();
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(laterRuns, 0);
  EXPECT_TRUE(later->isCancelled());
  EXPECT_TRUE(group->isCancelled());
  EXPECT_EQ(group->error(), nullptr);
}

TEST(GroupProcedureTest, GroupHearsOfItsCancellationWhenItsChildEndsAtOnce) {
  ProcedureQueue queue;
  auto child = std::make_shared<testing::EndsWhenCancelled>(false);
  // The child's own did-cancel observer is slow: the child ends, and so the group, meanwhile.
  child->addDidCancelBlockObserver([child = child.get()](Procedure&, const ErrorPtr&) { child->waitForFinishRequest(); });
  auto group = std::make_shared<GroupProcedure>(std::vector<std::shared_ptr<Operation>>{child});
  std::mutex mutex;
  std::vector<std::string> events;  // guarded by mutex
  auto record = [&](std::string event) {
    std::lock_guard lock(mutex);
    events.push_back(std::move(event));
  };
  group->addDidCancelBlockObserver([&](Procedure&, const ErrorPtr&) { record("didCancel"); });
  group->addDidFinishBlockObserver([&](Procedure&, const ErrorPtr&) { record("didFinish"); });
  std::promise<void> executing;
  child->addWillExecuteBlockObserver([&](Procedure&) { executing.set_value(); });
  queue.addOperation(group);
  ASSERT_EQ(executing.get_future().wait_for(std::chrono::duration<double>(kWait)), std::future_status::ready);
  group->cancel();
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  std::lock_guard lock(mutex);
  EXPECT_EQ(events, (std::vector<std::string>{"didCancel", "didFinish"}));
}

}  // namespace
}  // namespace vantelkit
