#include "vantelkit/platform/Thread.h"

#include <atomic>

#include "platform/internal/ThreadPlatform.h"
#include "vantelkit/platform/DispatchQueue.h"

namespace vantelkit::platform {

namespace {
std::atomic<int> nextThreadNumber{2};
thread_local int threadNumber = 0;
}  // namespace

int currentThreadNumber() {
  if (threadNumber == 0) {
    threadNumber = MainQueue::isMainThread() ? 1 : nextThreadNumber.fetch_add(1, std::memory_order_relaxed);
  }
  return threadNumber;
}

std::string currentThreadName() { return internal::platformThreadName(); }

void setCurrentThreadName(std::string_view name) { internal::setPlatformThreadName(name); }

}  // namespace vantelkit::platform
