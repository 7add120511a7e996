#include "vantelkit/foundation/MemoryWatchdog.h"

#include <gtest/gtest.h>

#include "support/FakeSystemMemory.h"

namespace vantelkit {
namespace {

using MemoryUsage = MemoryWatchdog::MemoryUsage;
using MemoryError = MemoryWatchdog::MemoryError;
constexpr std::uint64_t GiB = 1024ull * 1024 * 1024;

TEST(MemoryWatchdogTest, UsageAndErrorTexts) {
  MemoryUsage usage{GiB + GiB / 2, 16 * GiB};
  EXPECT_EQ(usage.description(), "1.5 GB used out of 16 GB total");

  auto exceeded = MemoryError::exceededMemoryThreshold(usage);
  EXPECT_EQ(exceeded.localizedDescription(), "Exceeded memory threshold: 1.5 GB used out of 16 GB total");
  EXPECT_EQ(exceeded.qualifiedDescription(), "MemoryError.exceededMemoryThreshold");
  EXPECT_EQ(exceeded.usage(), usage);

  auto failed = MemoryError::failedToRead();
  EXPECT_EQ(failed.localizedDescription(), "Failed to read system memory");
  EXPECT_EQ(failed.qualifiedDescription(), "MemoryError.failedToRead");
  EXPECT_FALSE(failed.usage().has_value());

  EXPECT_EQ(std::string(MemoryWatchdog::didExceedMemoryThreshold), "org.orvane.utility.didExceedMemoryThreshold");
}

TEST(MemoryWatchdogTest, ReadingUsageFailsAsAValue) {
  fakes::FakeSystemMemory memory(100, 1000);
  EXPECT_EQ(MemoryUsage::read(memory), (MemoryUsage{100, 1000}));
  memory.set(std::nullopt, 1000);
  EXPECT_FALSE(MemoryUsage::read(memory));
  memory.set(100, std::nullopt);
  EXPECT_FALSE(MemoryUsage::read(memory));
  // No physical memory would make every ratio infinite.
  memory.set(100, 0);
  EXPECT_FALSE(MemoryUsage::read(memory));
}

TEST(MemoryWatchdogTest, ThisProcessUsesSomeButNotAllOfTheMachine) {
  auto usage = MemoryUsage::read(*platform::SystemMemory::system());
  ASSERT_TRUE(usage);
  EXPECT_GT(usage->used, 0u);
  EXPECT_LT(usage->used, usage->total);
}

TEST(MemoryWatchdogTest, StartAndSuspendAreNotCounted) {
  platform::NotificationCenter center;
  MemoryWatchdog watchdog(3600, std::make_shared<fakes::FakeSystemMemory>(1, 2), center);
  EXPECT_EQ(watchdog.state(), MemoryWatchdog::State::suspended);
  watchdog.suspend();
  EXPECT_EQ(watchdog.state(), MemoryWatchdog::State::suspended);
  watchdog.start();
  watchdog.start();
  EXPECT_EQ(watchdog.state(), MemoryWatchdog::State::running);
  watchdog.suspend();
  EXPECT_EQ(watchdog.state(), MemoryWatchdog::State::suspended);
  watchdog.start();
  EXPECT_EQ(watchdog.state(), MemoryWatchdog::State::running);
}

TEST(MemoryWatchdogTest, DestroyingInEveryStateEndsCleanly) {
  auto memory = std::make_shared<fakes::FakeSystemMemory>(1, 2);
  platform::NotificationCenter center;
  { MemoryWatchdog neverStarted(3600, memory, center); }
  {
    MemoryWatchdog running(3600, memory, center);
    running.start();
  }
  {
    MemoryWatchdog suspended(3600, memory, center);
    suspended.start();
    suspended.suspend();
  }
  EXPECT_EQ(memory->reads(), 0);
}

}  // namespace
}  // namespace vantelkit
