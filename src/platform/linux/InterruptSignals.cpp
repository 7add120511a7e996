#include "vantelkit/platform/InterruptSignals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

namespace vantelkit::platform {

namespace {
std::mutex handlerMutex;
std::function<void()> currentHandler;  // guarded by handlerMutex
std::atomic<bool> signalled{false};
}  // namespace

void InterruptSignals::install(int exitStatus, const char* clearLine) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set, exitStatus, clearLine] {
    for (;;) {
      int signal = 0;
      if (sigwait(&set, &signal) != 0) continue;
      std::function<void()> handler;
      if (!signalled.exchange(true)) {
        std::lock_guard lock(handlerMutex);
        handler = currentHandler;
      }
      if (handler) {
        handler();
        continue;
      }
      if (clearLine) {
        ssize_t ignored = ::write(STDERR_FILENO, clearLine, std::strlen(clearLine));
        (void)ignored;
      }
      ::_exit(exitStatus);
    }
  }).detach();
}

void InterruptSignals::setHandler(std::function<void()> handler) {
  std::lock_guard lock(handlerMutex);
  currentHandler = std::move(handler);
}

bool InterruptSignals::received() { return signalled.load(); }

}  // namespace vantelkit::platform
