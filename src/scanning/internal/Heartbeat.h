// A repeating tick on a dispatch timer, resumed and suspended in balance: the scanners'
// progress heartbeat. Thread safety: every member is safe from any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "vantelkit/platform/DispatchSource.h"

namespace vantelkit::internal {

class Heartbeat {
 public:
  // interval in seconds; tick runs on queue (the default global queue when null).
  Heartbeat(double interval, std::function<void()> tick, std::shared_ptr<DispatchQueue> queue = nullptr)
      : _interval(interval), _timer(DispatchSourceTimer::make(std::move(queue))) {
    _timer->setEventHandler(std::move(tick));
  }
  ~Heartbeat() { _timer->cancel(); }
  Heartbeat(const Heartbeat&) = delete;
  Heartbeat& operator=(const Heartbeat&) = delete;

  // Starts ticking every interval from now; does nothing while already running.
  void resume() {
    std::lock_guard lock(_mutex);
    if (_running) return;
    _running = true;
    _timer->schedule(dispatchTimeAfter(_interval), _interval);
    _timer->resume();
  }
  // Stops the ticks until the next resume().
  void suspend() {
    std::lock_guard lock(_mutex);
    if (!_running) return;
    _running = false;
    _timer->suspend();
  }
  // Stops for good: no tick starts after this returns.
  void cancel() { _timer->cancel(); }

 private:
  double _interval;
  std::shared_ptr<DispatchSourceTimer> _timer;
  std::mutex _mutex;
  bool _running = false;  // guarded by _mutex
};

}  // namespace vantelkit::internal
