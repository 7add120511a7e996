#include "vantelkit/foundation/Logging.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "support/CapturingLogger.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Thread.h"

namespace vantelkit {
namespace {

using testing::CapturingLogger;
using testing::ScopedLogLevel;

enum class SampleCase { fileNotFound };

class SampleError final : public Error {
 public:
  std::string typeName() const override { return "SampleError"; }
  std::string description() const override { return "fileNotFound"; }
};

class RecordingErrorLogger final : public ErrorLogger {
 public:
  void logError(const ErrorPtr& error, const std::string& filePath, const std::string& function, int line) override {
    calls.push_back({error ? error->qualifiedDescription() : "", filePath, function, line});
  }
  struct Call {
    std::string error, filePath, function;
    int line;
  };
  std::vector<Call> calls;
};

std::shared_ptr<RecordingErrorLogger> errorLogger() {
  static auto logger = [] {
    auto made = std::make_shared<RecordingErrorLogger>();
    LoggerSettings::registerErrorLogger(made);
    return made;
  }();
  return logger;
}

class LoggingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CapturingLogger::shared().clear();
    errorLogger()->calls.clear();
  }
};

TEST_F(LoggingTest, InitialLevelLetsOnlyErrorsThrough) {
  EXPECT_EQ(LoggerSettings::logLevel(), LogLevel::error);
  LogDebug("debug");
  LogInfo("info");
  LogWarning("warning");
  EXPECT_TRUE(CapturingLogger::shared().lines().empty());
  LogError(SampleError());
  ASSERT_EQ(CapturingLogger::shared().entries().size(), 1u);
  EXPECT_EQ(CapturingLogger::shared().entries()[0].second, LogLevel::error);
}

TEST_F(LoggingTest, LevelsAndBuildConfigurations) {
  EXPECT_EQ(logLevelFromRawValue(0), std::nullopt);
  EXPECT_EQ(logLevelFromRawValue(5), std::nullopt);
  EXPECT_EQ(logLevelFromRawValue(3), LogLevel::warning);
  EXPECT_EQ(logLevelFor(BuildConfiguration::debug), LogLevel::debug);
  EXPECT_EQ(logLevelFor(BuildConfiguration::beta), LogLevel::error);
  EXPECT_EQ(logLevelFor(BuildConfiguration::release), LogLevel::error);
  EXPECT_EQ(currentBuildConfiguration, BuildConfiguration::release);
  EXPECT_EQ(dnsSuffix(BuildConfiguration::debug), ".debug");
  EXPECT_EQ(dnsSuffix(BuildConfiguration::beta), ".beta");
  EXPECT_EQ(dnsSuffix(BuildConfiguration::release), "");
}

TEST_F(LoggingTest, WarningLineHasTheFixedFormat) {
  ScopedLogLevel level(LogLevel::warning);
  LogWarning("File Scanner is already running", std::nullopt,
             LogLocation("/src/Clean/Scanner/FileScanner", "start()", 37));
  auto lines = CapturingLogger::shared().lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "\u26A0\uFE0F FileScanner -> start() [37] : File Scanner is already running");
  LogInfo("dropped");
  EXPECT_EQ(CapturingLogger::shared().lines().size(), 1u);
}

TEST_F(LoggingTest, ExplicitFunctionNamesAreLoggedExactlyAsGiven) {
  ScopedLogLevel level(LogLevel::warning);
  LogWarning("w", std::nullopt, LogLocation("/a/Presentation", "defaultPerformer", 3));
  LogWarning("w", std::nullopt, LogLocation("/a/Scanner", "isRunning", 4));
  LogError(SampleError(), std::nullopt, LogLocation("/a/Router", "procedure(for:with:)", 5));
  catchAndLogErrors([]() -> ErrorPtr { return makeError<SampleError>(); }, LogLocation("/a/Plain", "plain", 6));
  auto lines = CapturingLogger::shared().lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "\u26A0\uFE0F Presentation -> defaultPerformer [3] : w");
  EXPECT_EQ(lines[1], "\u26A0\uFE0F Scanner -> isRunning [4] : w");
  EXPECT_EQ(lines[2], "\U0001F6AB Router -> procedure(for:with:) [5] : SampleError.fileNotFound");
  EXPECT_EQ(lines[3], "\U0001F6AB Plain -> plain [6] : SampleError.fileNotFound");
  ASSERT_EQ(errorLogger()->calls.size(), 2u);
  EXPECT_EQ(errorLogger()->calls[1].function, "plain");
}

TEST_F(LoggingTest, CallSiteLocationIsTakenAutomatically) {
  ScopedLogLevel level(LogLevel::info);
  const int line = __LINE__ + 1;
  LogInfo("here");
  auto lines = CapturingLogger::shared().lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], fmt::format("\u2139\uFE0F LoggingTest.cpp -> TestBody() [{}] : here", line));
}

TEST_F(LoggingTest, FileNameIsTheLastPathPiece) {
  EXPECT_EQ(formatLogLine(LogLevel::error, "m", std::nullopt, LogLocation("NoSlash.cpp", "f()", 1)),
            "\U0001F6AB NoSlash.cpp -> f() [1] : m");
  EXPECT_EQ(formatLogLine(LogLevel::error, "m", std::nullopt, LogLocation("/a/b/", "f()", 1)),
            "\U0001F6AB  -> f() [1] : m");
}

TEST_F(LoggingTest, DebugLinesCarryTheThreadPart) {
  ScopedLogLevel level(LogLevel::debug);
  LogDebug("main", std::nullopt, LogLocation("/x/File.swift", "run()", 3));
  std::string named;
  std::string unnamed;
  std::thread([&] {
    platform::setCurrentThreadName("worker-x");
    named = formatLogLine(LogLevel::debug, "m", std::nullopt, LogLocation("/x/File", "f()", 1));
  }).join();
  std::thread([&] {
    platform::setCurrentThreadName("");
    unnamed = formatLogLine(LogLevel::debug, "m", std::nullopt, LogLocation("/x/File", "f()", 1));
  }).join();
  auto lines = CapturingLogger::shared().lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "\U0001F4AC ~ Thread 1 Main ~ File.swift -> run() [3] : main");
  EXPECT_TRUE(named.starts_with("\U0001F4AC ~ Thread ")) << named;
  EXPECT_TRUE(named.ends_with(" worker-x ~ File -> f() [1] : m")) << named;
  EXPECT_TRUE(unnamed.starts_with("\U0001F4AC ~ Thread ")) << unnamed;
  EXPECT_TRUE(unnamed.ends_with(" ~ File -> f() [1] : m")) << unnamed;
  EXPECT_EQ(unnamed.find("Main"), std::string::npos);
}

TEST_F(LoggingTest, CustomMarkReplacesTheLevelMarkOnly) {
  ScopedLogLevel level(LogLevel::debug);
  LogDebug("m", "\U0001F9E0", LogLocation("F", "f()", 2));
  LogWarning("w", "*", LogLocation("F", "f()", 2));
  auto lines = CapturingLogger::shared().lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "\U0001F9E0 ~ Thread 1 Main ~ F -> f() [2] : m");
  EXPECT_EQ(lines[1], "* F -> f() [2] : w");
  LoggerSettings::setLogLevel(LogLevel::error);
  LogWarning("filtered", "\U0001F6AB");
  EXPECT_EQ(CapturingLogger::shared().lines().size(), 2u);
}

TEST_F(LoggingTest, LogErrorTellsErrorLoggersThenLogsTypeAndCase) {
  LogError(SampleError(), std::nullopt, LogLocation("/p/Scan.cpp", "scan()", 12));
  ASSERT_EQ(errorLogger()->calls.size(), 1u);
  EXPECT_EQ(errorLogger()->calls[0].error, "SampleError.fileNotFound");
  EXPECT_EQ(errorLogger()->calls[0].filePath, "/p/Scan.cpp");
  EXPECT_EQ(errorLogger()->calls[0].function, "scan()");
  EXPECT_EQ(errorLogger()->calls[0].line, 12);
  auto lines = CapturingLogger::shared().lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "\U0001F6AB Scan.cpp -> scan() [12] : SampleError.fileNotFound");
}

TEST_F(LoggingTest, CatchAndLogErrorsSwallowsErrorsAndExceptions) {
  int runs = 0;
  catchAndLogErrors([&]() -> ErrorPtr {
    ++runs;
    return nullptr;
  });
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(CapturingLogger::shared().lines().empty());
  EXPECT_TRUE(errorLogger()->calls.empty());

  catchAndLogErrors([]() -> ErrorPtr { return makeError<SampleError>(); }, LogLocation("/a/B.cpp", "g()", 9));
  catchAndLogErrors([]() -> ErrorPtr { throw std::runtime_error("disk gone"); });
  auto lines = CapturingLogger::shared().lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "\U0001F6AB B.cpp -> g() [9] : SampleError.fileNotFound");
  EXPECT_TRUE(lines[1].ends_with(": ExceptionError.disk gone")) << lines[1];
  EXPECT_EQ(errorLogger()->calls.size(), 2u);
}

class CountingObserver final : public DevLoggerObserver {
 public:
  void devLoggerDidUpdateLogs() override { ++updates; }
  int updates = 0;
};

TEST_F(LoggingTest, DevLoggerAppendsOnTheMainQueue) {
  auto logger = DevLogger::shared();
  EXPECT_EQ(logger, DevLogger::shared());
  logger->setLogs({});
  auto observer = std::make_shared<CountingObserver>();
  logger->addObserver(observer);
  logger->addObserver(observer);
  logger->log("first", LogLevel::info);
  EXPECT_TRUE(logger->logs().empty()) << "the line arrives through the lock queue and the main queue";
  ASSERT_TRUE(MainQueue::runUntil([&] { return logger->logs().size() == 1; }, 5));
  EXPECT_EQ(logger->logs()[0], "first");
  EXPECT_EQ(observer->updates, 1) << "an observer added twice is told once";
  logger->setLogs({});
  EXPECT_EQ(observer->updates, 2);
  logger->removeObserver(observer);
  logger->log("second", LogLevel::info);
  ASSERT_TRUE(MainQueue::runUntil([&] { return logger->logs().size() == 1; }, 5));
  EXPECT_EQ(observer->updates, 2);
  logger->setLogs({});
}

}  // namespace
}  // namespace vantelkit
