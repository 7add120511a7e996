// Process-wide logging: level filtering, one formatted line per call, fanned out to every
// registered logger; errors also go to every registered error logger.
// Thread safety: the Log* functions are safe from any thread; loggers are called on the
// calling thread. LoggerSettings carries no lock: set the level and register loggers before
// other threads log. DevLogger's logs and observers belong to the main queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "vantelkit/foundation/Error.h"

namespace vantelkit {

enum class BuildConfiguration { debug, beta, release };

// The configuration this library was built as.
inline constexpr BuildConfiguration currentBuildConfiguration = BuildConfiguration::release;
// ".debug", ".beta" or the empty text.
std::string_view dnsSuffix(BuildConfiguration configuration);

enum class LogLevel : int { debug = 1, info = 2, warning = 3, error = 4 };

// None for a raw value outside 1 to 4.
std::optional<LogLevel> logLevelFromRawValue(int rawValue);
// debug for a debug build, error for beta and release.
LogLevel logLevelFor(BuildConfiguration configuration);
// The level's default mark (a speech balloon, information, warning or no-entry sign).
std::string_view defaultMark(LogLevel level);

// Where a log call was made. The Log* functions take it from their call site by default
// (clang 14 has no std::source_location with libstdc++, so the compiler builtins are used);
// the call site's function is logged by its own name with "()" added when it carries no
// parameter list ("start" becomes "start()"). A location made with the constructor is logged
// exactly as given ("defaultPerformer" stays "defaultPerformer"). Inside a lambda the call
// site's function is "operator()": log there with an explicit location naming the enclosing
// function.
struct LogLocation {
  std::string filePath;
  std::string function;
  int line = 0;

  LogLocation(std::string filePath, std::string function, int line);
  // The caller's location, its function named as described above.
  static LogLocation here(const char* filePath = __builtin_FILE(), const char* function = __builtin_FUNCTION(),
                          int line = __builtin_LINE());
};

class Logger {
 public:
  virtual ~Logger() = default;
  // Receives a finished line; called concurrently from every logging thread.
  virtual void log(const std::string& line, LogLevel level) = 0;
};

class ErrorLogger {
 public:
  virtual ~ErrorLogger() = default;
  virtual void logError(const ErrorPtr& error, const std::string& filePath, const std::string& function,
                        int line) = 0;
};

class LoggerSettings {
 public:
  LoggerSettings() = delete;
  // The lowest level that is emitted; initially error.
  static LogLevel logLevel();
  static void setLogLevel(LogLevel level);
  // Appends a logger for the life of the process. The list starts with one PrintLogger.
  static void registerLogger(std::shared_ptr<Logger> logger);
  static void registerErrorLogger(std::shared_ptr<ErrorLogger> logger);
};

// Each Log* function comes in two forms: the first takes the location from its call site, the
// second takes it explicitly.
#define VANTEL_CALL_SITE \
  const char *filePath = __builtin_FILE(), const char *function = __builtin_FUNCTION(), int line = __builtin_LINE()

void LogDebug(std::string_view message, std::optional<std::string_view> customEmoji = std::nullopt, VANTEL_CALL_SITE);
void LogDebug(std::string_view message, std::optional<std::string_view> customEmoji, const LogLocation& location);
void LogInfo(std::string_view message, std::optional<std::string_view> customEmoji = std::nullopt, VANTEL_CALL_SITE);
void LogInfo(std::string_view message, std::optional<std::string_view> customEmoji, const LogLocation& location);
void LogWarning(std::string_view message, std::optional<std::string_view> customEmoji = std::nullopt,
                VANTEL_CALL_SITE);
void LogWarning(std::string_view message, std::optional<std::string_view> customEmoji, const LogLocation& location);
// Hands the error to every error logger, then emits "TypeName.description" at level error.
void LogError(const ErrorPtr& error, std::optional<std::string_view> customEmoji = std::nullopt, VANTEL_CALL_SITE);
void LogError(const ErrorPtr& error, std::optional<std::string_view> customEmoji, const LogLocation& location);
template <class E, class = std::enable_if_t<std::is_base_of_v<Error, E>>>
void LogError(const E& error, std::optional<std::string_view> customEmoji = std::nullopt, VANTEL_CALL_SITE) {
  LogError(std::make_shared<const E>(error), customEmoji, LogLocation::here(filePath, function, line));
}
template <class E, class = std::enable_if_t<std::is_base_of_v<Error, E>>>
void LogError(const E& error, std::optional<std::string_view> customEmoji, const LogLocation& location) {
  LogError(std::make_shared<const E>(error), customEmoji, location);
}
// Runs block once; an error it returns (or a C++ exception it throws) is logged through
// LogError at this call's location and goes no further.
void catchAndLogErrors(const std::function<ErrorPtr()>& block, VANTEL_CALL_SITE);
void catchAndLogErrors(const std::function<ErrorPtr()>& block, const LogLocation& location);

#undef VANTEL_CALL_SITE

// The line the loggers receive, without filtering. threadDescription is used for debug lines
// only ("Thread 1 Main"); pass none to describe the calling thread.
std::string formatLogLine(LogLevel level, std::string_view message, std::optional<std::string_view> customEmoji,
                          const LogLocation& location,
                          std::optional<std::string_view> threadDescription = std::nullopt);
// "Thread N Main" on the main thread, "Thread N name" on a named thread, "Thread N" otherwise.
std::string currentThreadDescription();

// Writes each line and a newline to standard output, or to standard error once the host has
// chosen it (a command-line tool whose results go to standard output does).
class PrintLogger final : public Logger {
 public:
  enum class Stream { standardOutput, standardError };
  // Where every PrintLogger writes, for the whole process; initially standardOutput. Safe to
  // call from any thread; lines being written at the time go to either stream.
  static void setStream(Stream stream);
  static Stream stream();

  void log(const std::string& line, LogLevel level) override;
};

class DevLoggerObserver {
 public:
  virtual ~DevLoggerObserver() = default;
  virtual void devLoggerDidUpdateLogs() = 0;
  // Membership in DevLogger's observer set; identity unless a type says otherwise.
  virtual bool isEqual(const DevLoggerObserver& other) const { return this == &other; }
};

// The in-memory store of lines behind the in-application log view. Lines reach logs on the
// main queue, through the serial "dev logger lock queue", in the order each thread logged them.
class DevLogger final : public Logger {
 public:
  static std::shared_ptr<DevLogger> shared();

  void log(const std::string& line, LogLevel level) override;
  void addObserver(std::shared_ptr<DevLoggerObserver> observer);
  void removeObserver(const std::shared_ptr<DevLoggerObserver>& observer);
  // Main queue only.
  const std::vector<std::string>& logs() const { return _logs; }
  // Main queue only: stores the list, then tells every observer.
  void setLogs(std::vector<std::string> logs);

  DevLogger(const DevLogger&) = delete;
  DevLogger& operator=(const DevLogger&) = delete;

 private:
  DevLogger();
  std::shared_ptr<class DispatchQueue> _lockQueue;
  std::vector<std::shared_ptr<DevLoggerObserver>> _observers;  // main queue
  std::vector<std::string> _logs;                                // main queue
};

}  // namespace vantelkit
