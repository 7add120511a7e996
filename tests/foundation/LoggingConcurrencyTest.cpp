#include <fmt/format.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <thread>
#include <vector>

#include "support/CapturingLogger.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/platform/DispatchQueue.h"

namespace vantelkit {
namespace {

TEST(LoggingConcurrencyTest, ManyThreadsLogWholeLines) {
  testing::ScopedLogLevel level(LogLevel::debug);
  testing::CapturingLogger::shared().clear();
  constexpr int kThreads = 8;
  constexpr int kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        if (i % 2) {
          LogDebug(fmt::format("t{} line {}", t, i));
        } else {
          LogInfo(fmt::format("t{} line {}", t, i));
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  auto lines = testing::CapturingLogger::shared().lines();
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  for (auto& line : lines) EXPECT_NE(line.find(" line "), std::string::npos);
}

TEST(LoggingConcurrencyTest, DevLoggerKeepsEachThreadsOrder) {
  auto logger = DevLogger::shared();
  MainQueue::drain();
  logger->setLogs({});
  constexpr int kThreads = 4;
  constexpr int kLines = 250;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, logger] {
      for (int i = 0; i < kLines; ++i) logger->log(fmt::format("{} {}", t, i), LogLevel::info);
    });
  }
  ASSERT_TRUE(MainQueue::runUntil([&] { return logger->logs().size() == kThreads * kLines; }, 20));
  for (auto& thread : threads) thread.join();
  std::map<int, int> next;
  for (auto& line : logger->logs()) {
    int t = 0;
    int i = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%d %d", &t, &i), 2);
    EXPECT_EQ(i, next[t]) << "thread " << t;
    next[t] = i + 1;
  }
  logger->setLogs({});
}

}  // namespace
}  // namespace vantelkit
