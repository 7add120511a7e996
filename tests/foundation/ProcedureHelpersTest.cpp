#include "vantelkit/foundation/ProcedureHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/BoundedWait.h"
#include "support/CapturingLogger.h"
#include "vantelkit/foundation/AsyncProcedure.h"
#include "vantelkit/foundation/GeneralError.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/foundation/TimeoutObserver.h"

namespace vantelkit {
namespace {

using testing::CapturingLogger;
using testing::ScopedLogLevel;

constexpr double kWait = 20.0;
const std::string kTimeoutText = "This is likely a mistake, check that this block calls .finish() on all code paths.";

ErrorPtr unknownError() { return makeError<GeneralError>(GeneralError::unknown()); }

// Restores the process-wide time-out after a test.
class ScopedTimeout {
 public:
  explicit ScopedTimeout(double seconds) : _previous(AsyncProcedure::defaultTimeoutInterval()) {
    AsyncProcedure::setDefaultTimeoutInterval(seconds);
  }
  ~ScopedTimeout() { AsyncProcedure::setDefaultTimeoutInterval(_previous); }

 private:
  double _previous;
};

struct Number : Procedure, OutputProcedure<int> {
  std::optional<int> value;
  ErrorPtr failure;
  void execute() override {
    if (value) setSuccess(*value);
    finish(failure);
  }
};

TEST(AsyncProcedureTest, DefaultsAndVoidForms) {
  EXPECT_EQ(AsyncProcedure::defaultTimeoutInterval(), 3.0);
  ProcedureQueue queue;
  auto fails = std::make_shared<AsyncProcedure>([] { return unknownError(); });
  std::atomic<int> runs{0};
  auto succeeds = std::make_shared<AsyncProcedure>([&] { ++runs; });
  EXPECT_FALSE(fails->storage().isAsSelf());
  queue.addOperations(std::vector<std::shared_ptr<Procedure>>{fails, succeeds});
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(fails->error()->qualifiedDescription(), "GeneralError.unknown");
  EXPECT_EQ(succeeds->error(), nullptr);
  EXPECT_EQ(runs, 1);
}

TEST(AsyncProcedureTest, ForgottenFinishTimesOutWithOneMessageAndEnds) {
  ScopedLogLevel level(LogLevel::warning);
  ScopedTimeout timeout(0.05);
  CapturingLogger::shared().clear();
  ProcedureQueue queue;
  auto forgetful = std::make_shared<AsyncProcedure>(true, [](AsyncProcedure&) {});
  EXPECT_TRUE(forgetful->storage().isAsSelf());
  auto untimed = std::make_shared<AsyncProcedure>(false, [](AsyncProcedure&) {});
  queue.addOperations(std::vector<std::shared_ptr<Procedure>>{forgetful, untimed});
  ASSERT_TRUE(forgetful->waitUntilFinished(kWait));
  EXPECT_TRUE(forgetful->isCancelled());
  const auto* timedOut = errorAs<ProcedureKitError>(forgetful->error());
  ASSERT_NE(timedOut, nullptr);
  EXPECT_EQ(timedOut->kind(), ProcedureKitError::Case::timedOut);
  EXPECT_EQ(timedOut->delay(), std::optional<Delay>(Delay::by(0.05)));
  auto lines = CapturingLogger::shared().linesContaining(kTimeoutText);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Block not finished after 0.05 seconds. " + kTimeoutText), std::string::npos);
  // Without a time-out the procedure runs until cancelled, and then ends itself.
  EXPECT_FALSE(untimed->isFinished());
  untimed->cancel();
  EXPECT_FALSE(untimed->isFinished());
  EXPECT_EQ(CapturingLogger::shared().linesContaining(kTimeoutText).size(), 1u);
  untimed->finish();
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
}

TEST(AsyncProcedureTest, TimeoutMessagePrintsWholeSecondsWithAPointZero) {
  ScopedLogLevel level(LogLevel::warning);
  CapturingLogger::shared().clear();
  ProcedureQueue queue;
  auto procedure = std::make_shared<AsyncProcedure>(true, [](AsyncProcedure&) {});
  procedure->addWillExecuteBlockObserver([](Procedure& self) {
    // What the time-out does after 3 seconds, without waiting for it.
    self.cancel(makeError<ProcedureKitError>(ProcedureKitError::timedOut(Delay::by(3.0))));
  });
  std::promise<void> cancelled;
  procedure->addDidCancelBlockObserver([&](Procedure&, const ErrorPtr&) { cancelled.set_value(); });
  queue.addOperation(procedure);
  ASSERT_EQ(cancelled.get_future().wait_for(std::chrono::duration<double>(kWait)), std::future_status::ready);
  ASSERT_EQ(CapturingLogger::shared().linesContaining(kTimeoutText).size(), 1u);
  EXPECT_EQ(CapturingLogger::shared().linesContaining("Block not finished after 3.0 seconds.").size(), 1u);
  procedure->finish();
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
}

TEST(AsyncProcedureTest, OtherCancellationsAndChangedIntervalsLogNothing) {
  ScopedLogLevel level(LogLevel::warning);
  CapturingLogger::shared().clear();
  ProcedureQueue queue;
  std::vector<std::shared_ptr<AsyncProcedure>> procedures;
  std::vector<ErrorPtr> reasons = {nullptr, unknownError(),
                                   makeError<ProcedureKitError>(ProcedureKitError::timedOut(Delay::by(2.5))),
                                   makeError<ProcedureKitError>(ProcedureKitError::timedOut(Delay::until(Date{3.0})))};
  for (const auto& reason : reasons) {
    auto procedure = std::make_shared<AsyncProcedure>(true, [reason](AsyncProcedure& self) {
      self.cancel(reason);
      self.finish();
    });
    queue.addOperation(procedure);
    procedures.push_back(procedure);
  }
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_TRUE(CapturingLogger::shared().linesContaining(kTimeoutText).empty());
  EXPECT_EQ(procedures[1]->error(), reasons[1]);
}

// A logger that holds up the lines containing a given text until its gate opens (bounded):
// a slow logger. Registered once; the logger list only grows.
class HoldingLogger final : public Logger {
 public:
  static HoldingLogger& shared() {
    static std::shared_ptr<HoldingLogger> logger = [] {
      auto made = std::make_shared<HoldingLogger>();
      LoggerSettings::registerLogger(made);
      return made;
    }();
    return *logger;
  }
  void hold(std::string text, std::shared_ptr<testing::Gate> gate) {
    std::lock_guard lock(_mutex);
    _text = std::move(text);
    _gate = std::move(gate);
  }
  void log(const std::string& line, LogLevel) override {
    std::shared_ptr<testing::Gate> gate;
    {
      std::lock_guard lock(_mutex);
      if (_gate && line.find(_text) != std::string::npos) gate = _gate;
    }
    if (gate) gate->wait(std::chrono::milliseconds(2000));
  }

 private:
  std::mutex _mutex;
  std::string _text;                    // guarded by _mutex
  std::shared_ptr<testing::Gate> _gate;  // guarded by _mutex
};

TEST(AsyncProcedureTest, TimedOutBlockThatEndsAtOnceStillTellsTheDidCancelObservers) {
  ScopedLogLevel level(LogLevel::warning);
  ScopedTimeout timeout(0.02);
  auto finishRequested = std::make_shared<testing::Gate>();
  // The time-out message is logged while the block, seeing the cancellation, ends.
  HoldingLogger::shared().hold("ends-at-once: Block not finished", finishRequested);
  ProcedureQueue queue;
  auto procedure = std::make_shared<AsyncProcedure>(true, [finishRequested](AsyncProcedure& self) {
    auto strong = self.sharedAs<AsyncProcedure>();
    std::thread([strong, finishRequested] {
      testing::waitUntil([&] { return strong->isCancelled(); });
      strong->finish();
      finishRequested->open();
    }).detach();
  });
  procedure->setName("ends-at-once");
  std::mutex mutex;
  std::vector<std::string> events;  // guarded by mutex
  procedure->addDidCancelBlockObserver([&](Procedure&, const ErrorPtr& error) {
    std::lock_guard lock(mutex);
    events.push_back("didCancel " + (error ? error->description() : std::string("-")));
  });
  procedure->addDidFinishBlockObserver([&](Procedure&, const ErrorPtr&) {
    std::lock_guard lock(mutex);
    events.push_back("didFinish");
  });
  queue.addOperation(procedure);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  HoldingLogger::shared().hold({}, nullptr);
  const auto* timedOut = errorAs<ProcedureKitError>(procedure->error());
  ASSERT_NE(timedOut, nullptr);
  EXPECT_EQ(timedOut->kind(), ProcedureKitError::Case::timedOut);
  std::lock_guard lock(mutex);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].rfind("didCancel ", 0), 0u);
  EXPECT_EQ(events[1], "didFinish");
}

TEST(ProcedureHelpersTest, MainQueueBlockProcedureFinishesAfterTheMainQueueRanItsBlock) {
  ProcedureQueue queue;
  std::atomic<bool> ranOnMain{false};
  auto procedure = std::make_shared<MainQueueBlockProcedure>([&] { ranOnMain = MainQueue::isMainThread(); });
  auto observed = std::make_shared<std::atomic<bool>>(false);
  auto observer = std::make_shared<MainQueueFinishObserver<MainQueueBlockProcedure>>(
      [observed, procedure](const std::shared_ptr<MainQueueBlockProcedure>& finished, const ErrorPtr& error) {
        *observed = MainQueue::isMainThread() && finished == procedure && error == nullptr;
      });
  procedure->addObserver(observer);
  queue.addOperation(procedure);
  EXPECT_TRUE(MainQueue::runUntil([&] { return observed->load(); }, kWait));
  EXPECT_TRUE(ranOnMain);
  EXPECT_TRUE(procedure->isFinished());
}

TEST(ProcedureHelpersTest, ErrorPrinterObserverLogsOnlyErrors) {
  CapturingLogger::shared().clear();
  ProcedureQueue queue;
  auto failing = std::make_shared<BlockProcedure>([] { return makeError<GeneralError>(GeneralError::featureNotAvalable()); });
  auto fine = std::make_shared<BlockProcedure>([] {});
  failing->addObserver(std::make_shared<ErrorPrinterObserver<>>());
  fine->addObserver(std::make_shared<ErrorPrinterObserver<BlockProcedure>>());
  std::atomic<int> handled{0};
  auto counter = [&](const std::shared_ptr<Procedure>&, const ErrorPtr&) { ++handled; };
  failing->addObserver(std::make_shared<MainQueueFinishObserver<>>(counter));
  fine->addObserver(std::make_shared<MainQueueFinishObserver<>>(counter));
  queue.addOperations(std::vector<std::shared_ptr<Procedure>>{failing, fine});
  ASSERT_TRUE(MainQueue::runUntil([&] { return handled == 2; }, kWait));
  auto lines = CapturingLogger::shared().linesContaining("GeneralError.featureNotAvalable");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("MainQueueFinishObserver"), std::string::npos);
  EXPECT_NE(lines[0].find("ErrorPrinterObserver()"), std::string::npos);
  EXPECT_NE(lines[0].find("33"), std::string::npos);
}

TEST(ProcedureHelpersTest, ResultWrapperDecidesInOrderCancelledFailedSucceeded) {
  ProcedureQueue queue;
  auto cancelledWithError = std::make_shared<Number>();
  cancelledWithError->value = 1;
  cancelledWithError->cancel(unknownError());
  auto failedWithValue = std::make_shared<Number>();
  failedWithValue->value = 2;
  failedWithValue->failure = unknownError();
  auto succeeded = std::make_shared<Number>();
  succeeded->value = 3;
  auto noOutput = std::make_shared<Number>();
  queue.addOperations(std::vector<std::shared_ptr<Number>>{cancelledWithError, failedWithValue, succeeded, noOutput});
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));

  EXPECT_TRUE(ProcedureResultWrapper<int>(*cancelledWithError).wasCancelled());
  ProcedureResultWrapper<int> failed(*failedWithValue);
  EXPECT_TRUE(failed.didFail());
  EXPECT_EQ(failed.error()->description(), "unknown");
  ProcedureResultWrapper<int> success(*succeeded);
  EXPECT_TRUE(success.didSucceed());
  EXPECT_EQ(*success.value(), 3);
  ProcedureResultWrapper<int> missing(*noOutput);
  ASSERT_TRUE(missing.didFail());
  const auto* general = errorAs<GeneralError>(missing.error());
  ASSERT_NE(general, nullptr);
  EXPECT_EQ(general->kind(), GeneralError::Case::featureNotAvalable);
  EXPECT_EQ(general->url(), std::nullopt);

  std::vector<std::string> calls;
  auto record = [&](const ProcedureResultWrapper<int>& wrapper) {
    wrapper.handle([&](const ErrorPtr&) { calls.push_back("failed"); }, [&] { calls.push_back("cancelled"); },
                   [&](const int& value) { calls.push_back("succeeded " + std::to_string(value)); });
  };
  record(ProcedureResultWrapper<int>(*cancelledWithError));
  record(failed);
  record(success);
  success.handle(nullptr, nullptr, nullptr);  // missing closures: nothing happens
  EXPECT_EQ(calls, (std::vector<std::string>{"cancelled", "failed", "succeeded 3"}));
}

TEST(ProcedureHelpersTest, ResultObserversOnTheFinishingThreadAndOnTheMainQueue) {
  ProcedureQueue queue;
  auto number = std::make_shared<Number>();
  number->value = 7;
  std::atomic<int> direct{0};
  std::atomic<int> onMain{0};
  addResultObserver(number, false, [&](const ProcedureResultWrapper<int>& result) {
    if (result.didSucceed()) direct = *result.value();
  });
  addResultObserver(number, true, [&](const ProcedureResultWrapper<int>& result) {
    if (MainQueue::isMainThread() && result.didSucceed()) onMain = *result.value();
  });
  queue.addOperation(number);
  ASSERT_TRUE(number->waitUntilFinished(kWait));
  EXPECT_EQ(direct, 7);
  EXPECT_TRUE(MainQueue::runUntil([&] { return onMain == 7; }, kWait));

  // A procedure gone by the time the main queue runs: the handler is not called.
  std::atomic<int> lateCalls{0};
  std::weak_ptr<Number> weakTransient;
  {
    auto transient = std::make_shared<Number>();
    weakTransient = transient;
    transient->value = 1;
    addResultObserver(transient, true, [&](const ProcedureResultWrapper<int>&) { ++lateCalls; });
    queue.addOperation(transient);
    ASSERT_TRUE(transient->waitUntilFinished(kWait));
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kWait);
  while (!weakTransient.expired() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_TRUE(weakTransient.expired());
  MainQueue::drain();
  EXPECT_EQ(lateCalls, 0);
}

TEST(ProcedureHelpersTest, ResultProcessingProcedureRunsAfterItsSourceWithTheValue) {
  ProcedureQueue queue;
  auto source = std::make_shared<Number>();
  source->value = 20;
  std::atomic<int> seen{0};
  auto processing = resultProcessingProcedure(source, [&](const int& value) { seen = value; });
  auto failingProcess = resultProcessingProcedure(source, [](const int&) { return unknownError(); });
  auto failedSource = std::make_shared<Number>();
  failedSource->failure = unknownError();
  std::atomic<int> calledForFailure{0};
  auto skipped = resultProcessingProcedure(failedSource, [&](const int&) { ++calledForFailure; });
  // Queued before their sources: the dependency decides.
  queue.addOperations(
      std::vector<std::shared_ptr<Procedure>>{processing, failingProcess, skipped, source, failedSource});
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kWait));
  EXPECT_EQ(seen, 20);
  EXPECT_EQ(processing->error(), nullptr);
  EXPECT_EQ(failingProcess->error()->description(), "unknown");
  EXPECT_EQ(calledForFailure, 0);
  EXPECT_TRUE(skipped->isFinished());
  EXPECT_EQ(skipped->error(), nullptr);

  // The source is held weakly.
  std::weak_ptr<Number> weakSource;
  std::shared_ptr<BlockProcedure> orphan;
  {
    auto dropped = std::make_shared<Number>();
    weakSource = dropped;
    orphan = resultProcessingProcedure(dropped, [](const int&) {});
  }
  EXPECT_FALSE(weakSource.expired());  // still a dependency of orphan
  orphan->removeDependency(orphan->dependencies().front());
  EXPECT_TRUE(weakSource.expired());
  queue.addOperation(orphan);
  ASSERT_TRUE(orphan->waitUntilFinished(kWait));
}

TEST(ProcedureHelpersTest, DelayRunsOnTheMainQueueAfterTheCurrentTask) {
  std::vector<std::string> order;
  DispatchQueue::main()->async([&] {
    delay(0, [&] { order.push_back("delayed"); });
    order.push_back("task end");
  });
  std::atomic<bool> neverRuns{false};
  delay(std::numeric_limits<double>::infinity(), [&] { neverRuns = true; });
  delay(1e300, [&] { neverRuns = true; });
  delay(std::numeric_limits<double>::quiet_NaN(), [&] { order.push_back("nan"); });
  ASSERT_TRUE(MainQueue::runUntil([&] { return order.size() == 3; }, kWait));
  EXPECT_EQ(order[0], "task end");
  EXPECT_NE(std::find(order.begin(), order.end(), "delayed"), order.end());
  EXPECT_FALSE(neverRuns);
}

TEST(ProcedureHelpersTest, TimeoutObserverUntilAPassedDateFiresAtOnce) {
  ProcedureQueue queue;
  auto procedure = std::make_shared<BlockProcedure>([](BlockProcedure&) {});
  procedure->addObserver(std::make_shared<TimeoutObserver>(Date{0}));
  queue.addOperation(procedure);
  ASSERT_TRUE(procedure->waitUntilFinished(kWait));
  const auto* error = errorAs<ProcedureKitError>(procedure->error());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->qualifiedDescription(), "ProcedureKitError.timedOut");
  EXPECT_EQ(error->delay()->date(), std::optional<Date>(Date{0}));
}

}  // namespace
}  // namespace vantelkit
