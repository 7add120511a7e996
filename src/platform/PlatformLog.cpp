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

PlatformLogSink& currentOutputSink() {
  static PlatformLogSink sink;  // guarded by sinkMutex(); empty means stdout
  return sink;
}

void write(PlatformLogSink& sink, std::FILE* stream, std::string_view message) {
  if (sink) {
    sink(message);
    return;
  }
  std::string line(message);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

}  // namespace

void platformLog(std::string_view message) {
  std::lock_guard lock(sinkMutex());
  write(currentSink(), stderr, message);
}

PlatformLogSink setPlatformLogSink(PlatformLogSink sink) {
  std::lock_guard lock(sinkMutex());
  auto previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

void standardOutputMessage(std::string_view message) {
  std::lock_guard lock(sinkMutex());
  write(currentOutputSink(), stdout, message);
}

PlatformLogSink setStandardOutputMessageSink(PlatformLogSink sink) {
  std::lock_guard lock(sinkMutex());
  auto previous = std::move(currentOutputSink());
  currentOutputSink() = std::move(sink);
  return previous;
}

}  // namespace vantelkit::platform
