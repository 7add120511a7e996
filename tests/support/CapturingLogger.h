// A logger for tests: registered once per process (the logger list only grows), it keeps the
// lines it receives until cleared. Safe from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "vantelkit/foundation/Logging.h"

namespace vantelkit::testing {

class CapturingLogger final : public Logger {
 public:
  // The process-wide instance, registered on first use.
  static CapturingLogger& shared();

  void log(const std::string& line, LogLevel level) override;
  std::vector<std::pair<std::string, LogLevel>> entries() const;
  std::vector<std::string> lines() const;
  // Lines that contain text.
  std::vector<std::string> linesContaining(const std::string& text) const;
  void clear();

 private:
  mutable std::mutex _mutex;
  std::vector<std::pair<std::string, LogLevel>> _entries;  // guarded by _mutex
};

// Sets the log level for a scope and restores the previous one.
class ScopedLogLevel {
 public:
  explicit ScopedLogLevel(LogLevel level) : _previous(LoggerSettings::logLevel()) { LoggerSettings::setLogLevel(level); }
  ~ScopedLogLevel() { LoggerSettings::setLogLevel(_previous); }
  ScopedLogLevel(const ScopedLogLevel&) = delete;
  ScopedLogLevel& operator=(const ScopedLogLevel&) = delete;

 private:
  LogLevel _previous;
};

}  // namespace vantelkit::testing
