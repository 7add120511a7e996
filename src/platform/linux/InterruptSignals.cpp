#include "vantelkit/platform/InterruptSignals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace vantelkit::platform {

namespace {
std::mutex handlerMutex;
std::function<void()> currentHandler;  // guarded by handlerMutex
std::atomic<int> firstSignal{0};       // the number of the first signal, 0 before any
}  // namespace

void InterruptSignals::install(const char* clearLine) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  const bool clear = clearLine && ::isatty(STDERR_FILENO) == 1;
  std::thread([set, clear, clearLine] {
    using Clock = std::chrono::steady_clock;
    Clock::time_point firstAt;
    bool handled = false;  // the first signal went to a handler
    for (;;) {
      int signal = 0;
      if (sigwait(&set, &signal) != 0) continue;
      const auto now = Clock::now();
      int expected = 0;
      if (firstSignal.compare_exchange_strong(expected, signal)) {
        firstAt = now;
        std::function<void()> handler;
        {
          std::lock_guard lock(handlerMutex);
          handler = currentHandler;
        }
        if (handler) {
          handled = true;
          handler();
          continue;
        }
      } else if (handled && std::chrono::duration<double>(now - firstAt).count() < secondSignalDelay) {
        // The same request delivered more than once (to the process and its group).
        continue;
      }
      if (clear) {
        ssize_t ignored = ::write(STDERR_FILENO, clearLine, std::strlen(clearLine));
        (void)ignored;
      }
      ::_exit(128 + signal);
    }
  }).detach();
}

void InterruptSignals::setHandler(std::function<void()> handler) {
  std::lock_guard lock(handlerMutex);
  currentHandler = std::move(handler);
}

bool InterruptSignals::received() { return firstSignal.load() != 0; }

int InterruptSignals::exitStatus() {
  const int signal = firstSignal.load();
  return signal == 0 ? 0 : 128 + signal;
}

}  // namespace vantelkit::platform
