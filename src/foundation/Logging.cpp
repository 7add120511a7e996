#include "vantelkit/foundation/Logging.h"

#include <fmt/format.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <mutex>

#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Thread.h"

namespace vantelkit {

namespace {

// The lists only grow and are read by every logging thread. They are guarded by a mutex so
// that registering while others log is safe, even though callers should not rely on it.
struct LoggerLists {
  std::mutex mutex;
  std::vector<std::shared_ptr<Logger>> loggers{std::make_shared<PrintLogger>()};  // guarded by mutex
  std::vector<std::shared_ptr<ErrorLogger>> errorLoggers;                        // guarded by mutex
};

LoggerLists& lists() {
  static auto* value = new LoggerLists();  // lives for the process: logging may run at exit
  return *value;
}

std::atomic<LogLevel> currentLevel{LogLevel::error};

// The name a call site's function is logged under: "start" -> "start()"; a name with a
// parameter list stays as it is ("exceededMemoryThreshold(_:)"); a full signature
// ("void vantelkit::FileScanner::start() const") is cut to "start()".
std::string callSiteFunctionName(std::string_view full) {
  auto paren = full.find('(');
  if (paren != std::string_view::npos && full.find_first_of(" :") > paren) return std::string(full);
  std::string_view head = paren == std::string_view::npos ? full : full.substr(0, paren);
  auto colon = head.rfind("::");
  if (colon != std::string_view::npos) head = head.substr(colon + 2);
  auto space = head.rfind(' ');
  if (space != std::string_view::npos) head = head.substr(space + 1);
  while (!head.empty() && (head.front() == '*' || head.front() == '&')) head.remove_prefix(1);
  return std::string(head) + "()";
}

std::string_view fileNameOf(std::string_view path) {
  auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void emit(LogLevel level, std::string_view message, std::optional<std::string_view> customEmoji,
          const LogLocation& location) {
  if (static_cast<int>(LoggerSettings::logLevel()) > static_cast<int>(level)) return;
  const std::string line = formatLogLine(level, message, customEmoji, location);
  std::vector<std::shared_ptr<Logger>> loggers;
  {
    std::lock_guard lock(lists().mutex);
    loggers = lists().loggers;
  }
  for (auto& logger : loggers) logger->log(line, level);
}

}  // namespace

std::string_view dnsSuffix(BuildConfiguration configuration) {
  switch (configuration) {
    case BuildConfiguration::debug: return ".debug";
    case BuildConfiguration::beta: return ".beta";
    case BuildConfiguration::release: return "";
  }
  return "";
}

std::optional<LogLevel> logLevelFromRawValue(int rawValue) {
  if (rawValue < 1 || rawValue > 4) return std::nullopt;
  return static_cast<LogLevel>(rawValue);
}

LogLevel logLevelFor(BuildConfiguration configuration) {
  return configuration == BuildConfiguration::debug ? LogLevel::debug : LogLevel::error;
}

std::string_view defaultMark(LogLevel level) {
  switch (level) {
    case LogLevel::debug: return "\U0001F4AC";
    case LogLevel::info: return "\u2139\uFE0F";
    case LogLevel::warning: return "\u26A0\uFE0F";
    case LogLevel::error: return "\U0001F6AB";
  }
  return "";
}

LogLocation::LogLocation(std::string filePath, std::string function, int line)
    : filePath(std::move(filePath)), function(std::move(function)), line(line) {}

LogLocation LogLocation::here(const char* filePath, const char* function, int line) {
  return LogLocation(filePath ? filePath : "", callSiteFunctionName(function ? function : ""), line);
}

LogLevel LoggerSettings::logLevel() { return currentLevel.load(std::memory_order_relaxed); }
void LoggerSettings::setLogLevel(LogLevel level) { currentLevel.store(level, std::memory_order_relaxed); }

void LoggerSettings::registerLogger(std::shared_ptr<Logger> logger) {
  if (!logger) return;
  std::lock_guard lock(lists().mutex);
  lists().loggers.push_back(std::move(logger));
}

void LoggerSettings::registerErrorLogger(std::shared_ptr<ErrorLogger> logger) {
  if (!logger) return;
  std::lock_guard lock(lists().mutex);
  lists().errorLoggers.push_back(std::move(logger));
}

std::string currentThreadDescription() {
  const int number = platform::currentThreadNumber();
  if (MainQueue::isMainThread()) return fmt::format("Thread {} Main", number);
  const std::string name = platform::currentThreadName();
  return name.empty() ? fmt::format("Thread {}", number) : fmt::format("Thread {} {}", number, name);
}

std::string formatLogLine(LogLevel level, std::string_view message, std::optional<std::string_view> customEmoji,
                          const LogLocation& location, std::optional<std::string_view> threadDescription) {
  std::string threadPart;
  if (level == LogLevel::debug) {
    threadPart = fmt::format(" ~ {} ~", threadDescription ? std::string(*threadDescription) : currentThreadDescription());
  }
  const std::string_view mark = customEmoji ? *customEmoji : defaultMark(level);
  return fmt::format("{}{} {} -> {} [{}] : {}", mark, threadPart, fileNameOf(location.filePath), location.function,
                     location.line, message);
}

void LogDebug(std::string_view message, std::optional<std::string_view> customEmoji, const char* filePath,
              const char* function, int line) {
  emit(LogLevel::debug, message, customEmoji, LogLocation::here(filePath, function, line));
}
void LogDebug(std::string_view message, std::optional<std::string_view> customEmoji, const LogLocation& location) {
  emit(LogLevel::debug, message, customEmoji, location);
}

void LogInfo(std::string_view message, std::optional<std::string_view> customEmoji, const char* filePath,
             const char* function, int line) {
  emit(LogLevel::info, message, customEmoji, LogLocation::here(filePath, function, line));
}
void LogInfo(std::string_view message, std::optional<std::string_view> customEmoji, const LogLocation& location) {
  emit(LogLevel::info, message, customEmoji, location);
}

void LogWarning(std::string_view message, std::optional<std::string_view> customEmoji, const char* filePath,
                const char* function, int line) {
  emit(LogLevel::warning, message, customEmoji, LogLocation::here(filePath, function, line));
}
void LogWarning(std::string_view message, std::optional<std::string_view> customEmoji, const LogLocation& location) {
  emit(LogLevel::warning, message, customEmoji, location);
}

void LogError(const ErrorPtr& error, std::optional<std::string_view> customEmoji, const char* filePath,
              const char* function, int line) {
  LogError(error, customEmoji, LogLocation::here(filePath, function, line));
}

void LogError(const ErrorPtr& error, std::optional<std::string_view> customEmoji, const LogLocation& location) {
  std::vector<std::shared_ptr<ErrorLogger>> errorLoggers;
  {
    std::lock_guard lock(lists().mutex);
    errorLoggers = lists().errorLoggers;
  }
  for (auto& logger : errorLoggers) logger->logError(error, location.filePath, location.function, location.line);
  const std::string message = error ? error->qualifiedDescription() : std::string("Error.unknown");
  emit(LogLevel::error, message, customEmoji, location);
}

void catchAndLogErrors(const std::function<ErrorPtr()>& block, const char* filePath, const char* function, int line) {
  catchAndLogErrors(block, LogLocation::here(filePath, function, line));
}

void catchAndLogErrors(const std::function<ErrorPtr()>& block, const LogLocation& location) {
  ErrorPtr error;
  try {
    error = block ? block() : nullptr;
  } catch (const std::exception& e) {
    error = makeError<ExceptionError>(e.what());
  } catch (...) {
    error = makeError<ExceptionError>("unknown exception");
  }
  if (error) LogError(error, std::nullopt, location);
}

namespace {
std::atomic<PrintLogger::Stream> printLoggerStream{PrintLogger::Stream::standardOutput};
}  // namespace

void PrintLogger::setStream(Stream stream) { printLoggerStream.store(stream); }

PrintLogger::Stream PrintLogger::stream() { return printLoggerStream.load(); }

void PrintLogger::log(const std::string& line, LogLevel /*level*/) {
  // One write per line keeps lines of concurrent threads whole.
  std::string text = line;
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stream() == Stream::standardError ? stderr : stdout);
}

DevLogger::DevLogger() : _lockQueue(DispatchQueue::makeSerial("dev logger lock queue")) {}

std::shared_ptr<DevLogger> DevLogger::shared() {
  static auto* instance = new std::shared_ptr<DevLogger>(new DevLogger());
  return *instance;
}

void DevLogger::log(const std::string& line, LogLevel /*level*/) {
  std::weak_ptr<DevLogger> weak = shared();
  _lockQueue->async([weak, line] {
    DispatchQueue::main()->async([weak, line] {
      if (auto logger = weak.lock()) {
        auto logs = std::move(logger->_logs);
        logs.push_back(line);
        logger->setLogs(std::move(logs));
      }
    });
  });
}

void DevLogger::addObserver(std::shared_ptr<DevLoggerObserver> observer) {
  if (!observer) return;
  for (auto& existing : _observers) {
    if (existing->isEqual(*observer)) return;
  }
  _observers.push_back(std::move(observer));
}

void DevLogger::removeObserver(const std::shared_ptr<DevLoggerObserver>& observer) {
  if (!observer) return;
  std::erase_if(_observers, [&](auto& existing) { return existing->isEqual(*observer); });
}

void DevLogger::setLogs(std::vector<std::string> logs) {
  _logs = std::move(logs);
  auto observers = _observers;  // an observer may remove itself while being told
  for (auto& observer : observers) observer->devLoggerDidUpdateLogs();
}

}  // namespace vantelkit
