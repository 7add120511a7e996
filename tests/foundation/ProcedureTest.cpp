#include "vantelkit/foundation/Procedure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/EndsWhenCancelled.h"
#include "support/CapturingLogger.h"
#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/GeneralError.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/foundation/TimeoutObserver.h"

namespace vantelkit {
namespace {

using testing::CapturingLogger;
using testing::ScopedLogLevel;

constexpr double kWait = 20.0;

// Records every callback, in order, as text.
class RecordingObserver : public ProcedureObserver {
 public:
  void didAttach(Procedure&) override { add("attach"); }
  void willExecute(Procedure&) override { add("willExecute"); }
  void didExecute(Procedure&) override { add("didExecute"); }
  void didCancel(Procedure&, const ErrorPtr& error) override { add(error ? "didCancel " + error->description() : "didCancel"); }
  void willFinish(Procedure& procedure, const ErrorPtr& error) override {
    add(std::string("willFinish ") + (error ? error->description() : "-") +
        (recordState && procedure.isFinished() ? " finished" : ""));
  }
  void didFinish(Procedure& procedure, const ErrorPtr& error) override {
    add(std::string("didFinish ") + (error ? error->description() : "-") +
        (recordState && procedure.isFinished() ? " finished" : ""));
  }
  bool recordState = true;  // off where callbacks arrive later than the events
  std::vector<std::string> events() const {
    std::lock_guard lock(_mutex);
    return _events;
  }

 private:
  void add(std::string event) {
    std::lock_guard lock(_mutex);
    _events.push_back(std::move(event));
  }
  mutable std::mutex _mutex;
  std::vector<std::string> _events;
};

ErrorPtr unknownError() { return makeError<GeneralError>(GeneralError::unknown()); }

TEST(ProcedureTest, BlockProcedureFormsFinishWithTheirOutcome) {
  ProcedureQueue queue;
  std::atomic<int> runs{0};
  auto plain = std::make_shared<BlockProcedure>([&] { ++runs; });
  auto failing = std::make_shared<BlockProcedure>([&]() -> ErrorPtr {
    ++runs;
    return unknownError();
  });
  auto throwing = std::make_shared<BlockProcedure>([]() -> ErrorPtr { throw std::runtime_error("boom"); });
  auto later = std::make_shared<BlockProcedure>([&](BlockProcedure& procedure) {
    ++runs;
    auto self = procedure.sharedAs<BlockProcedure>();
    std::thread([self] { self->finish(makeError<GeneralError>(GeneralError::featureNotAvalable("https://x/"))); })
        .detach();
  });
  EXPECT_FALSE(plain->finishesItself());
  EXPECT_TRUE(later->finishesItself());
  queue.addOperations(std::vector<std::shared_ptr<BlockProcedure>>{plain, failing, throwing, later});
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(runs, 3);
  EXPECT_EQ(plain->error(), nullptr);
  EXPECT_FALSE(plain->failed());
  ASSERT_NE(errorAs<GeneralError>(failing->error()), nullptr);
  EXPECT_EQ(failing->error()->qualifiedDescription(), "GeneralError.unknown");
  ASSERT_NE(errorAs<ExceptionError>(throwing->error()), nullptr);
  EXPECT_EQ(throwing->error()->description(), "boom");
  const auto* notAvailable = errorAs<GeneralError>(later->error());
  ASSERT_NE(notAvailable, nullptr);
  EXPECT_EQ(notAvailable->kind(), GeneralError::Case::featureNotAvalable);
  EXPECT_EQ(notAvailable->url(), std::optional<std::string>("https://x/"));
}

TEST(ProcedureTest, SecondFinishAndEarlyFinishAreLoggedAndIgnored) {
  ScopedLogLevel level(LogLevel::warning);
  CapturingLogger::shared().clear();
  ProcedureQueue queue;
  auto observer = std::make_shared<RecordingObserver>();
  auto procedure = std::make_shared<BlockProcedure>([](BlockProcedure& self) {
    self.finish();
    self.finish(unknownError());
  });
  procedure->setName("Twice");
  procedure->finish();  // not started yet
  procedure->addObserver(observer);
  // The queue is done at the finish; execute() and its observers may still be running then.
  std::promise<void> executed;
  procedure->addDidExecuteBlockObserver([&](Procedure&) { executed.set_value(); });
  queue.addOperation(procedure);
  ASSERT_EQ(executed.get_future().wait_for(std::chrono::duration<double>(kWait)), std::future_status::ready);
  EXPECT_EQ(procedure->error(), nullptr);
  EXPECT_EQ(CapturingLogger::shared().linesContaining("Twice: finish() called on a procedure that has not started").size(), 1u);
  EXPECT_EQ(CapturingLogger::shared().linesContaining("Twice: finish() called on a procedure that has already finished").size(),
            1u);
  EXPECT_EQ(observer->events(), (std::vector<std::string>{"attach", "willExecute", "willFinish -", "didFinish - finished",
                                                          "didExecute"}));
}

TEST(ProcedureTest, CancelBeforeStartSkipsExecuteAndFinishesWithTheCancellationError) {
  ProcedureQueue queue;
  queue.setSuspended(true);
  struct Hooked : Procedure {
    std::atomic<int> executed{0};
    std::atomic<int> cancelHooks{0};
    ErrorPtr seen;
    void execute() override {
      ++executed;
      finish();
    }
    void procedureDidCancel(const ErrorPtr& error) override {
      ++cancelHooks;
      seen = error;
    }
  };
  auto procedure = std::make_shared<Hooked>();
  auto observer = std::make_shared<RecordingObserver>();
  procedure->addObserver(observer);
  std::atomic<int> blockCancels{0};
  procedure->addDidCancelBlockObserver([&](Procedure&, const ErrorPtr&) { ++blockCancels; });
  queue.addOperation(procedure);
  auto reason = unknownError();
  procedure->cancel(reason);
  procedure->cancel(makeError<GeneralError>(GeneralError::featureNotAvalable()));  // only the first counts
  procedure->cancel();
  queue.setSuspended(false);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_TRUE(procedure->isCancelled());
  EXPECT_EQ(procedure->executed, 0);
  EXPECT_EQ(procedure->cancelHooks, 1);
  EXPECT_EQ(procedure->seen, reason);
  EXPECT_EQ(blockCancels, 1);
  EXPECT_EQ(procedure->error(), reason);
  EXPECT_EQ(observer->events(),
            (std::vector<std::string>{"attach", "didCancel unknown", "willFinish unknown", "didFinish unknown finished"}));
  procedure->cancel();  // after the finish: nothing
  EXPECT_EQ(procedure->cancelHooks, 1);
}

TEST(ProcedureTest, ObserversHearOfACancellationThatTheProcedureEndsAtOnce) {
  ProcedureQueue queue;
  auto procedure = std::make_shared<testing::EndsWhenCancelled>(true);
  auto observer = std::make_shared<RecordingObserver>();
  observer->recordState = false;
  procedure->addObserver(observer);
  std::promise<void> executing;
  procedure->addWillExecuteBlockObserver([&](Procedure&) { executing.set_value(); });
  queue.addOperation(procedure);
  ASSERT_EQ(executing.get_future().wait_for(std::chrono::duration<double>(kWait)), std::future_status::ready);
  procedure->cancel(unknownError());
  ASSERT_TRUE(procedure->waitUntilFinished(kWait));
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  // didExecute comes from the executing thread, at no fixed point after the finish request.
  auto events = observer->events();
  events.erase(std::remove(events.begin(), events.end(), "didExecute"), events.end());
  EXPECT_EQ(events, (std::vector<std::string>{"attach", "willExecute", "didCancel unknown", "willFinish unknown",
                                              "didFinish unknown"}));
  EXPECT_EQ(procedure->error()->description(), "unknown");
}

TEST(ProcedureTest, ExecutingProcedureSeesCancellationAndEndsItself) {
  ProcedureQueue queue;
  std::atomic<bool> sawCancel{false};
  auto started = std::make_shared<std::atomic<bool>>(false);
  auto procedure = std::make_shared<BlockProcedure>([&, started](BlockProcedure& self) {
    *started = true;
    for (int i = 0; i < 200000 && !self.isCancelled(); ++i) std::this_thread::yield();
    sawCancel = self.isCancelled();
    self.finish();
  });
  queue.addOperation(procedure);
  while (!*started) std::this_thread::yield();
  procedure->cancel();
  ASSERT_TRUE(procedure->waitUntilFinished(kWait));
  EXPECT_TRUE(sawCancel);
  EXPECT_TRUE(procedure->isCancelled());
  EXPECT_EQ(procedure->error(), nullptr);  // cancelled without a reason, finished without error
}

TEST(ProcedureTest, NoFailedDependenciesCondition) {
  ProcedureQueue queue;
  auto failed = std::make_shared<BlockProcedure>([] { return unknownError(); });
  auto cancelled = std::make_shared<BlockProcedure>([] {});
  cancelled->cancel();
  auto succeeded = std::make_shared<BlockProcedure>([] {});
  std::atomic<int> ran{0};
  auto makeDependent = [&](std::shared_ptr<Procedure> dependency, bool ignoreCancellations) {
    auto dependent = std::make_shared<BlockProcedure>([&] { ++ran; });
    dependent->addDependency(dependency);
    dependent->addCondition(std::make_shared<NoFailedDependenciesCondition>(ignoreCancellations));
    return dependent;
  };
  auto afterFailure = makeDependent(failed, true);
  auto afterCancelStrict = makeDependent(cancelled, false);
  auto afterCancelLenient = makeDependent(cancelled, true);
  auto afterSuccess = makeDependent(succeeded, false);
  queue.addOperations(std::vector<std::shared_ptr<Procedure>>{failed, cancelled, succeeded, afterFailure,
                                                               afterCancelStrict, afterCancelLenient, afterSuccess});
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(ran, 2);
  auto kindOf = [](const ErrorPtr& error) {
    const auto* kitError = errorAs<ProcedureKitError>(error);
    return kitError ? kitError->description() : std::string("none");
  };
  EXPECT_EQ(kindOf(afterFailure->error()), "dependenciesFailed");
  EXPECT_TRUE(afterFailure->isCancelled());
  EXPECT_EQ(kindOf(afterCancelStrict->error()), "dependenciesCancelled");
  EXPECT_EQ(afterCancelLenient->error(), nullptr);
  EXPECT_EQ(afterSuccess->error(), nullptr);
}

TEST(ProcedureTest, ObserverOnAnEventQueueGetsEveryEventInOrderThere) {
  ProcedureQueue queue;
  auto eventQueue = DispatchQueue::makeSerial("observer events");
  struct QueuedObserver : RecordingObserver {
    std::shared_ptr<DispatchQueue> queue;
    std::atomic<int> offQueue{0};
    std::shared_ptr<DispatchQueue> eventQueue() const override { return queue; }
    void didFinish(Procedure& procedure, const ErrorPtr& error) override {
      if (DispatchQueue::current() != queue) ++offQueue;
      RecordingObserver::didFinish(procedure, error);
    }
  };
  auto observer = std::make_shared<QueuedObserver>();
  observer->queue = eventQueue;
  observer->recordState = false;
  auto procedure = std::make_shared<BlockProcedure>([] {});
  procedure->addObserver(observer);
  std::promise<void> executed;
  procedure->addDidExecuteBlockObserver([&](Procedure&) { executed.set_value(); });
  queue.addOperation(procedure);
  ASSERT_EQ(executed.get_future().wait_for(std::chrono::duration<double>(kWait)), std::future_status::ready);
  eventQueue->sync([] {});  // every event was submitted before the did-execute block ran
  EXPECT_EQ(observer->offQueue, 0);
  EXPECT_EQ(observer->events(),
            (std::vector<std::string>{"attach", "willExecute", "willFinish -", "didFinish -", "didExecute"}));
}

TEST(ProcedureTest, ObserversAndBlocksReferringToTheirProcedureAreReleasedAtTheFinish) {
  std::weak_ptr<Procedure> weak;
  std::weak_ptr<ProcedureObserver> weakObserver;
  {
    ProcedureQueue queue;
    auto procedure = std::make_shared<BlockProcedure>([] {});
    weak = procedure;
    // A cycle through an observer and through the closure of a never-run block.
    procedure->addDidFinishBlockObserver([procedure](Procedure&, const ErrorPtr&) { (void)procedure; });
    auto observer = std::make_shared<RecordingObserver>();
    weakObserver = observer;
    procedure->addObserver(observer);
    auto neverRun = std::make_shared<BlockProcedure>([procedure] { (void)procedure; });
    neverRun->addDidFinishBlockObserver([neverRun](Procedure&, const ErrorPtr&) { (void)neverRun; });
    neverRun->cancel();
    queue.addOperation(procedure);
    queue.addOperation(neverRun);
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kWait);
  while ((!weak.expired() || !weakObserver.expired()) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_TRUE(weak.expired());
  EXPECT_TRUE(weakObserver.expired());
}

struct Squares : Procedure, OutputProcedure<std::vector<int>> {
  int count;
  explicit Squares(int count) : count(count) {}
  void execute() override {
    std::vector<int> values;
    for (int i = 0; i < count; ++i) values.push_back(i * i);
    setSuccess(std::move(values));
    finish();
  }
};

TEST(ProcedureTest, OutputIsPendingUntilSetAndReadableAfterTheFinish) {
  Pending<ProcedureResult<int>> pending;
  EXPECT_TRUE(pending.isPending());
  EXPECT_EQ(pending.value(), nullptr);
  auto failure = ProcedureResult<int>::failure(unknownError());
  EXPECT_FALSE(failure.isSuccess());
  EXPECT_EQ(failure.value(), nullptr);
  EXPECT_EQ(failure.error()->description(), "unknown");

  ProcedureQueue queue;
  auto squares = std::make_shared<Squares>(5);
  EXPECT_TRUE(squares->output().isPending());
  std::vector<int> seenByDependent;
  auto reader = std::make_shared<BlockProcedure>([&, squares] { seenByDependent = squares->successValue().value(); });
  auto unrelated = std::make_shared<BlockProcedure>([] {});
  reader->addDependencies(std::vector<std::shared_ptr<Procedure>>{squares, unrelated});
  queue.addOperation(unrelated);
  queue.addOperations(std::vector<std::shared_ptr<Procedure>>{reader, squares});
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  auto output = squares->output();
  ASSERT_TRUE(output.isReady());
  ASSERT_TRUE(output.value()->isSuccess());
  EXPECT_EQ(*output.value()->value(), (std::vector<int>{0, 1, 4, 9, 16}));
  EXPECT_EQ(seenByDependent, *output.value()->value());
}

TEST(ProcedureTest, LogChannelPrefixesTheNameAndCanBeSilenced) {
  ScopedLogLevel level(LogLevel::debug);
  CapturingLogger::shared().clear();
  auto procedure = std::make_shared<Procedure>();
  procedure->log().info("unnamed line");
  procedure->setName("Scanner");
  procedure->log().warning("named line");
  procedure->log().setEnabled(false);
  procedure->log().warning("silenced line");
  EXPECT_EQ(CapturingLogger::shared().linesContaining("unnamed line").size(), 1u);
  auto named = CapturingLogger::shared().linesContaining("Scanner: named line");
  ASSERT_EQ(named.size(), 1u);
  EXPECT_NE(named[0].find("ProcedureTest"), std::string::npos);  // the caller's file, not ours
  EXPECT_TRUE(CapturingLogger::shared().linesContaining("silenced line").empty());
}

TEST(ProcedureTest, QueuesProceduresAndObserversDroppedMidFlightAreAllReleased) {
  // Everything below is dropped while children still wait; once they are let go, nothing
  // may remain (the AddressSanitizer build also checks for leaks at exit).
  auto release = std::make_shared<std::promise<void>>();
  std::shared_future<void> released = release->get_future().share();
  std::vector<std::weak_ptr<Procedure>> procedures;
  std::vector<std::weak_ptr<ProcedureObserver>> observers;
  {
    auto queue = std::make_unique<ProcedureQueue>();
    for (int i = 0; i < 20; ++i) {
      auto waiting = std::make_shared<BlockProcedure>([released](BlockProcedure& self) {
        auto strong = self.sharedAs<BlockProcedure>();
        std::thread([released, strong] {
          released.wait_for(std::chrono::duration<double>(kWait));
          strong->finish();
        }).detach();
      });
      auto after = std::make_shared<BlockProcedure>([] {});
      after->addDependency(waiting);
      auto group = std::make_shared<GroupProcedure>(std::vector<std::shared_ptr<Operation>>{waiting, after});
      // Observers that refer back to what they observe.
      group->addDidFinishBlockObserver([group](Procedure&, const ErrorPtr&) { (void)group; });
      auto observer = std::make_shared<RecordingObserver>();
      waiting->addObserver(observer);
      group->addObserver(std::make_shared<TimeoutObserver>(1000.0));
      if (i % 3 == 0) group->cancel();
      queue->addOperation(group);
      procedures.insert(procedures.end(), {group, waiting, after});
      observers.push_back(observer);
    }
  }
  release->set_value();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kWait);
  auto allGone = [&] {
    for (const auto& weak : procedures) {
      if (!weak.expired()) return false;
    }
    for (const auto& weak : observers) {
      if (!weak.expired()) return false;
    }
    return true;
  };
  while (!allGone() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(allGone());
}

}  // namespace
}  // namespace vantelkit
