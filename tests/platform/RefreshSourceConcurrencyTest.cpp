#include "vantelkit/platform/RefreshSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vantelkit::platform {
namespace {

using namespace std::chrono_literals;

template <class Predicate>
bool waitUntil(Predicate predicate) {
  auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(RefreshSourceConcurrencyTest, RefreshesOnlyBetweenStartAndStop) {
  auto source = RefreshSource::makeForActiveDisplays();
  ASSERT_TRUE(source);
  std::atomic<int> refreshes{0};
  ASSERT_TRUE(source->setOutput([&] { ++refreshes; }));
  ASSERT_TRUE(source->bindToMainDisplay());
  EXPECT_FALSE(source->isRunning());

  ASSERT_TRUE(source->start());
  ASSERT_TRUE(source->start());
  EXPECT_TRUE(source->isRunning());
  EXPECT_FALSE(source->setOutput([] {}));  // the output stays fixed while running
  ASSERT_TRUE(waitUntil([&] { return refreshes >= 3; }));

  source->stop();
  source->stop();
  EXPECT_FALSE(source->isRunning());
  int stopped = refreshes;
  std::this_thread::sleep_for(50ms);  // three refresh periods
  EXPECT_EQ(refreshes, stopped);

  ASSERT_TRUE(source->start());
  EXPECT_TRUE(waitUntil([&] { return refreshes > stopped; }));
}

TEST(RefreshSourceConcurrencyTest, DestroyingARunningSourceStopsIt) {
  auto refreshes = std::make_shared<std::atomic<int>>(0);
  {
    auto source = RefreshSource::makeForActiveDisplays();
    source->setOutput([refreshes] { ++*refreshes; });
    source->start();
    ASSERT_TRUE(waitUntil([&] { return *refreshes >= 1; }));
  }
  EXPECT_EQ(refreshes.use_count(), 1);
}

}  // namespace
}  // namespace vantelkit::platform
