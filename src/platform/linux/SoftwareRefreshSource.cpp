#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "vantelkit/platform/RefreshSource.h"
#include "vantelkit/platform/Thread.h"

namespace vantelkit::platform {
namespace {

// Ticks at a steady 60 Hz against the steady clock. Ticks missed while the machine was busy
// are skipped rather than delivered in a burst.
class SoftwareRefreshSource final : public RefreshSource {
 public:
  static constexpr std::chrono::nanoseconds kPeriod{1'000'000'000 / 60};

  ~SoftwareRefreshSource() override { stop(); }

  bool setOutput(Output output) override {
    std::lock_guard lock(_mutex);
    if (_thread.joinable()) return false;
    _output = std::move(output);
    return true;
  }

  bool bindToMainDisplay() override { return true; }

  bool start() override {
    std::lock_guard lock(_mutex);
    if (_thread.joinable()) return true;
    _stopRequested = false;
    _running.store(true);
    _thread = std::thread([this] { run(); });
    return true;
  }

  void stop() override {
    std::thread thread;
    {
      std::lock_guard lock(_mutex);
      if (!_thread.joinable()) return;
      _stopRequested = true;
      thread = std::move(_thread);
    }
    _wake.notify_all();
    thread.join();
    _running.store(false);
  }

  bool isRunning() const override { return _running.load(); }

 private:
  void run() {
    setCurrentThreadName("display refresh");
    auto next = std::chrono::steady_clock::now() + kPeriod;
    std::unique_lock lock(_mutex);
    while (!_stopRequested) {
      if (_wake.wait_until(lock, next, [this] { return _stopRequested; })) break;
      lock.unlock();
      if (_output) _output();
      lock.lock();
      auto now = std::chrono::steady_clock::now();
      next += kPeriod;
      if (next <= now) next = now + kPeriod - (now - next) % kPeriod;
    }
  }

  std::mutex _mutex;
  std::condition_variable _wake;
  Output _output;               // guarded by _mutex; unchanged while the thread runs
  bool _stopRequested = false;  // guarded by _mutex
  std::thread _thread;          // guarded by _mutex
  std::atomic<bool> _running{false};
};

}  // namespace

std::unique_ptr<RefreshSource> RefreshSource::makeForActiveDisplays() {
  return std::make_unique<SoftwareRefreshSource>();
}

}  // namespace vantelkit::platform
