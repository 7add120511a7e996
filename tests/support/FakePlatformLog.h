// Captures the platform log for the life of the object, then restores the previous sink.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/platform/PlatformLog.h"

namespace vantelkit::fakes {

class FakePlatformLog {
 public:
  FakePlatformLog() {
    _previous = platform::setPlatformLogSink([this](std::string_view message) {
      std::lock_guard lock(_mutex);
      _lines.emplace_back(message);
    });
  }
  ~FakePlatformLog() { platform::setPlatformLogSink(std::move(_previous)); }
  FakePlatformLog(const FakePlatformLog&) = delete;
  FakePlatformLog& operator=(const FakePlatformLog&) = delete;

  std::vector<std::string> lines() const {
    std::lock_guard lock(_mutex);
    return _lines;
  }

 private:
  platform::PlatformLogSink _previous;
  mutable std::mutex _mutex;
  std::vector<std::string> _lines;  // guarded by _mutex
};

}  // namespace vantelkit::fakes
