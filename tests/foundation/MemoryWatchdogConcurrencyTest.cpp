#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/BoundedWait.h"
#include "support/CapturingLogger.h"
#include "support/FakeSystemMemory.h"
#include "vantelkit/foundation/MemoryWatchdog.h"

namespace vantelkit {
namespace {

using namespace std::chrono_literals;
using fakes::FakeSystemMemory;
using MemoryUsage = MemoryWatchdog::MemoryUsage;

constexpr double kInterval = 0.001;

using vantelkit::testing::waitUntil;

using vantelkit::testing::CapturingLogger;

std::vector<std::string> failedReadLines() {
  return CapturingLogger::shared().linesContaining("MemoryError.failedToRead");
}

class MemoryWatchdogConcurrencyTest : public ::testing::Test {
 protected:
  void observe() {
    center.addObserver(MemoryWatchdog::didExceedMemoryThreshold, [this](const platform::Notification& n) {
      auto* queue = DispatchQueue::current().get();
      if (!queue || queue->label() != "Memory Watchdog") offQueue = true;
      std::lock_guard lock(mutex);
      if (auto* usage = std::any_cast<MemoryUsage>(&n.object)) usages.push_back(*usage);
    });
  }
  std::size_t notifications() {
    std::lock_guard lock(mutex);
    return usages.size();
  }

  platform::NotificationCenter center;
  std::shared_ptr<FakeSystemMemory> memory = std::make_shared<FakeSystemMemory>(500, 1000);
  std::atomic<bool> offQueue{false};
  std::mutex mutex;
  std::vector<MemoryUsage> usages;  // guarded by mutex
};

TEST_F(MemoryWatchdogConcurrencyTest, PostsOnEverySampleAboveTheThresholdAndNothingAtIt) {
  observe();
  MemoryWatchdog watchdog(kInterval, memory, center);
  watchdog.start();

  // Exactly at the threshold (ratio 0.5): samples come, notifications do not.
  ASSERT_TRUE(waitUntil([&] { return memory->reads() >= 5; }));
  EXPECT_EQ(notifications(), 0u);

  // Just above: every sample posts, on the watchdog's queue, with the measured usage.
  memory->set(501, 1000);
  ASSERT_TRUE(waitUntil([&] { return notifications() >= 3; }));
  EXPECT_FALSE(offQueue);
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(usages.back(), (MemoryUsage{501, 1000}));
  }

  // A higher threshold applies from the next sample. Samples run one after another, so once
  // two more have started, every sample that read the old threshold has finished.
  watchdog.setThreshold(0.6);
  int readsAtChange = memory->reads();
  ASSERT_TRUE(waitUntil([&] { return memory->reads() >= readsAtChange + 2; }));
  auto settled = notifications();
  ASSERT_TRUE(waitUntil([&] { return memory->reads() >= readsAtChange + 6; }));
  EXPECT_EQ(notifications(), settled);
}

TEST_F(MemoryWatchdogConcurrencyTest, FailedReadIsLoggedOnEverySampleAndSamplingGoesOn) {
  observe();
  auto before = failedReadLines().size();
  memory->set(std::nullopt, 1000);
  MemoryWatchdog watchdog(kInterval, memory, center);
  watchdog.start();
  ASSERT_TRUE(waitUntil([&] { return failedReadLines().size() >= before + 3; }));
  EXPECT_EQ(notifications(), 0u);
  auto line = failedReadLines().back();
  EXPECT_NE(line.find("timerUpdate()"), std::string::npos) << line;

  // Recovery: once memory can be read again, an excess is reported.
  memory->set(900, 1000);
  EXPECT_TRUE(waitUntil([&] { return notifications() >= 1; }));
}

TEST_F(MemoryWatchdogConcurrencyTest, OnlyARunningWatchdogSamples) {
  observe();
  memory->set(900, 1000);
  MemoryWatchdog watchdog(kInterval, memory, center);
  std::this_thread::sleep_for(30ms);  // thirty periods
  EXPECT_EQ(memory->reads(), 0);

  watchdog.start();
  ASSERT_TRUE(waitUntil([&] { return memory->reads() >= 3; }));
  watchdog.start();
  watchdog.suspend();  // not counted: one suspend() stops it
  int readsAtSuspend = memory->reads();
  std::this_thread::sleep_for(30ms);
  EXPECT_LE(memory->reads(), readsAtSuspend + 1);  // at most the sample already under way
}

TEST_F(MemoryWatchdogConcurrencyTest, NothingIsPostedAfterDestruction) {
  observe();
  memory->set(900, 1000);
  for (int round = 0; round < 20; ++round) {
    {
      MemoryWatchdog watchdog(kInterval, memory, center);
      watchdog.start();
      int reads = memory->reads();
      ASSERT_TRUE(waitUntil([&] { return memory->reads() > reads; }));
      if (round % 2) watchdog.suspend();
    }
    auto settled = notifications();
    std::this_thread::sleep_for(3ms);
    EXPECT_EQ(notifications(), settled);
  }
}

}  // namespace
}  // namespace vantelkit
