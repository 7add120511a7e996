#include "vantelkit/platform/PlatformLog.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace vantelkit::platform {
namespace {

std::mutex& sinkMutex() {
  static std::mutex mutex;
  return mutex;
}

PlatformLogSink& currentSink() {
  static PlatformLogSink sink;  // guarded by sinkMutex(); empty means stderr
  return sink;
}

}  // namespace

void platformLog(std::string_view message) {
  std::lock_guard lock(sinkMutex());
  if (auto& sink = currentSink()) {
    sink(message);
    return;
  }
  std::string line(message);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

PlatformLogSink setPlatformLogSink(PlatformLogSink sink) {
  std::lock_guard lock(sinkMutex());
  auto previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

}  // namespace vantelkit::platform
