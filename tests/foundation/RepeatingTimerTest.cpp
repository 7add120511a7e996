#include "vantelkit/foundation/RepeatingTimer.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vantelkit {
namespace {

using State = RepeatingTimer::State;

TEST(RepeatingTimerTest, ResumeAndSuspendAreNotCounted) {
  auto timer = RepeatingTimer::make(3600);
  EXPECT_EQ(timer->state(), State::suspended);
  timer->suspend();
  EXPECT_EQ(timer->state(), State::suspended);
  timer->resume();
  timer->resume();
  EXPECT_EQ(timer->state(), State::resumed);
  timer->suspend();
  EXPECT_EQ(timer->state(), State::suspended);
  timer->setState(State::resumed);
  EXPECT_EQ(timer->state(), State::resumed);
  timer->setState(State::suspended);
  EXPECT_EQ(timer->state(), State::suspended);
}

TEST(RepeatingTimerTest, DestroysCleanlyInEveryState) {
  { RepeatingTimer neverResumed(3600); }
  {
    RepeatingTimer resumed(3600);
    resumed.resume();
  }
  {
    RepeatingTimer suspendedAgain(3600);
    suspendedAgain.resume();
    suspendedAgain.suspend();
  }
  SUCCEED();
}

TEST(RepeatingTimerTest, EventHandlerIsReadableAndReplaceable) {
  RepeatingTimer timer(1);
  EXPECT_FALSE(timer.eventHandler());
  int calls = 0;
  timer.setEventHandler([&] { ++calls; });
  ASSERT_TRUE(timer.eventHandler());
  timer.eventHandler()();
  EXPECT_EQ(calls, 1);
  timer.setEventHandler(nullptr);
  EXPECT_FALSE(timer.eventHandler());
}

TEST(RepeatingTimerTest, KeepsItsIntervalAndQueueAndRejectsUnusableIntervals) {
  auto queue = DispatchQueue::makeSerial("timer test");
  RepeatingTimer timer(2.5, queue);
  EXPECT_EQ(timer.timeInterval(), 2.5);
  EXPECT_EQ(timer.queue(), queue);
  EXPECT_EQ(RepeatingTimer(0).timeInterval(), RepeatingTimer::minimumInterval);
  EXPECT_EQ(RepeatingTimer(-1).timeInterval(), RepeatingTimer::minimumInterval);
  EXPECT_EQ(RepeatingTimer(std::nan("")).timeInterval(), RepeatingTimer::minimumInterval);
}

}  // namespace
}  // namespace vantelkit
