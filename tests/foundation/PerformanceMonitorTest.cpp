#include "vantelkit/foundation/PerformanceMonitor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/CapturingLogger.h"
#include "support/FakeSystemMemory.h"

namespace vantelkit {
namespace {

using vantelkit::testing::CapturingLogger;

// The lines that carry the monitor's brain mark since the last clear.
std::vector<std::string> brainLines() { return CapturingLogger::shared().linesContaining("\U0001F9E0"); }

class PerformanceMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override { CapturingLogger::shared().clear(); }

  platform::NotificationCenter center;
  // An hour between samples and usage far below the threshold: only the test posts.
  PerformanceMonitor monitor{3600, std::make_shared<fakes::FakeSystemMemory>(1, 1000), center};
  MemoryWatchdog::MemoryUsage usage{600, 1000};
};

TEST_F(PerformanceMonitorTest, ReportsTheFirstOfThreeNotificationsOnly) {
  for (int i = 0; i < 3; ++i) center.post(MemoryWatchdog::didExceedMemoryThreshold, usage);

  auto lines = brainLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("MemoryError.exceededMemoryThreshold"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("exceededMemoryThreshold(_:)"), std::string::npos) << lines[0];
  EXPECT_TRUE(monitor.didReportMemoryWarning());
}

TEST_F(PerformanceMonitorTest, IgnoresNotificationsWithoutAUsage) {
  center.post(MemoryWatchdog::didExceedMemoryThreshold, 42);
  center.post(MemoryWatchdog::didExceedMemoryThreshold);
  EXPECT_TRUE(brainLines().empty());
  EXPECT_FALSE(monitor.didReportMemoryWarning());

  // A proper one afterwards is still reported.
  center.post(MemoryWatchdog::didExceedMemoryThreshold, usage);
  EXPECT_EQ(brainLines().size(), 1u);
}

TEST_F(PerformanceMonitorTest, StartsItsWatchdogAndStopsListeningWhenDestroyed) {
  EXPECT_EQ(monitor.memoryWatchdog().state(), MemoryWatchdog::State::running);
  EXPECT_EQ(center.observerCount(), 1u);
  {
    PerformanceMonitor second(3600, std::make_shared<fakes::FakeSystemMemory>(1, 1000), center);
    EXPECT_EQ(center.observerCount(), 2u);
  }
  EXPECT_EQ(center.observerCount(), 1u);
}

}  // namespace
}  // namespace vantelkit
