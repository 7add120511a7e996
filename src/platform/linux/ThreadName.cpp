#include <pthread.h>

#include <cstring>
#include <string>
#include <string_view>

#include "platform/internal/ThreadPlatform.h"

namespace vantelkit::platform::internal {

namespace {

std::string threadName(pthread_t thread) {
  char buffer[64] = {};
  if (::pthread_getname_np(thread, buffer, sizeof buffer) != 0) return {};
  return buffer;
}

// Linux gives every thread a name: an unnamed one carries the process name (or the name of the
// thread that created it). The process name read at start-up stands for "no name".
const std::string& processName() {
  static const std::string name = threadName(::pthread_self());
  return name;
}

[[maybe_unused]] const bool processNameRead = !processName().empty();

}  // namespace

std::string platformThreadName() {
  std::string name = threadName(::pthread_self());
  return name == processName() ? std::string() : name;
}

void setPlatformThreadName(std::string_view name) {
  // The kernel keeps at most 15 bytes and a terminator.
  std::string cut(name.substr(0, 15));
  if (cut.empty()) cut = processName();
  ::pthread_setname_np(::pthread_self(), cut.c_str());
}

void clearPlatformThreadName() { ::pthread_setname_np(::pthread_self(), processName().c_str()); }

}  // namespace vantelkit::platform::internal
