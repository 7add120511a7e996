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

// A zero or negative period would make the timer spin.
TEST(RepeatingTimerTest, UnusableIntervalsAreRaisedToTheMinimum) {
  EXPECT_EQ(RepeatingTimer(2.5).timeInterval(), 2.5);
  EXPECT_EQ(RepeatingTimer(0).timeInterval(), RepeatingTimer::minimumInterval);
  EXPECT_EQ(RepeatingTimer(-1).timeInterval(), RepeatingTimer::minimumInterval);
  EXPECT_EQ(RepeatingTimer(std::nan("")).timeInterval(), RepeatingTimer::minimumInterval);
}

}  // namespace
}  // namespace vantelkit
