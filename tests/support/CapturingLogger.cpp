#include "support/CapturingLogger.h"

namespace vantelkit::testing {

CapturingLogger& CapturingLogger::shared() {
  static auto* instance = [] {
    auto logger = std::make_shared<CapturingLogger>();
    LoggerSettings::registerLogger(logger);
    return new std::shared_ptr<CapturingLogger>(logger);
  }();
  return **instance;
}

void CapturingLogger::log(const std::string& line, LogLevel level) {
  std::lock_guard lock(_mutex);
  _entries.emplace_back(line, level);
}

std::vector<std::pair<std::string, LogLevel>> CapturingLogger::entries() const {
  std::lock_guard lock(_mutex);
  return _entries;
}

std::vector<std::string> CapturingLogger::lines() const {
  std::lock_guard lock(_mutex);
  std::vector<std::string> result;
  for (auto& entry : _entries) result.push_back(entry.first);
  return result;
}

std::vector<std::string> CapturingLogger::linesContaining(const std::string& text) const {
  std::vector<std::string> result;
  for (auto& line : lines()) {
    if (line.find(text) != std::string::npos) result.push_back(line);
  }
  return result;
}

void CapturingLogger::clear() {
  std::lock_guard lock(_mutex);
  _entries.clear();
}

}  // namespace vantelkit::testing
