#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/BoundedWait.h"
#include "support/CapturingLogger.h"
#include "support/FakeSystemMemory.h"
#include "vantelkit/foundation/PerformanceMonitor.h"

namespace vantelkit {
namespace {

using namespace std::chrono_literals;

using vantelkit::testing::kPatience;
using vantelkit::testing::waitUntil;

using vantelkit::testing::CapturingLogger;

int brainLineCount() { return static_cast<int>(CapturingLogger::shared().linesContaining("\U0001F9E0").size()); }

TEST(PerformanceMonitorConcurrencyTest, ThreeSimultaneousNotificationsAreReportedOnce) {
  CapturingLogger::shared().clear();
  for (int round = 0; round < 30; ++round) {
    int before = brainLineCount();
    platform::NotificationCenter center;
    PerformanceMonitor monitor(3600, std::make_shared<fakes::FakeSystemMemory>(1, 1000), center);
    std::promise<void> go;
    auto ready = go.get_future().share();
    std::vector<std::future<void>> posters;
    for (int t = 0; t < 3; ++t) {
      posters.push_back(std::async(std::launch::async, [&, ready] {
        ready.wait();
        center.post(MemoryWatchdog::didExceedMemoryThreshold, MemoryWatchdog::MemoryUsage{900, 1000});
      }));
    }
    go.set_value();
    for (auto& poster : posters) ASSERT_EQ(poster.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(brainLineCount(), before + 1);
  }
}

TEST(PerformanceMonitorConcurrencyTest, ReportsOnceWhileItsWatchdogKeepsSeeingTooMuchMemory) {
  CapturingLogger::shared().clear();
  int before = brainLineCount();
  platform::NotificationCenter center;
  auto memory = std::make_shared<fakes::FakeSystemMemory>(900, 1000);
  {
    PerformanceMonitor monitor(0.001, memory, center);
    ASSERT_TRUE(waitUntil([&] { return monitor.didReportMemoryWarning(); }));
    ASSERT_TRUE(waitUntil([&] { return memory->reads() >= 5; }));
  }
  EXPECT_EQ(brainLineCount(), before + 1);
}

}  // namespace
}  // namespace vantelkit
