// A timer that calls its event handler every timeInterval seconds on a dispatch queue, and
// can be resumed and suspended any number of times. Scanners use it to publish progress.
// Thread safety: every member function is safe to call from any thread. The event handler
// runs on the timer's queue.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/DispatchSource.h"

namespace vantelkit {

class RepeatingTimer {
 public:
  enum class State { suspended, resumed };
  using EventHandler = std::function<void()>;

  // Intervals below one millisecond (and NaN) are raised to one millisecond.
  static constexpr double minimumInterval = 0.001;

  // A suspended timer. With no queue, the handler runs on the default global queue.
  static std::shared_ptr<RepeatingTimer> make(double timeInterval, std::shared_ptr<DispatchQueue> queue = nullptr);
  explicit RepeatingTimer(double timeInterval, std::shared_ptr<DispatchQueue> queue = nullptr);
  // Stops the events; waits for a handler call under way on another thread, so nothing the
  // handler captured is touched after this returns. Do not destroy the timer while holding a
  // lock that its handler takes.
  ~RepeatingTimer();
  RepeatingTimer(const RepeatingTimer&) = delete;
  RepeatingTimer& operator=(const RepeatingTimer&) = delete;

  double timeInterval() const { return _timeInterval; }
  const std::shared_ptr<DispatchQueue>& queue() const { return _queue; }

  // Starts the events: the first comes timeInterval seconds after the first resume(). Not
  // counted: resume() twice and suspend() once leaves the timer suspended.
  void resume();
  void suspend();
  State state() const;
  // resume() or suspend(), whichever reaches the given state.
  void setState(State state);

  // Replaceable at any time; the change applies from the next event. None silences the
  // timer without stopping it.
  EventHandler eventHandler() const;
  void setEventHandler(EventHandler handler);

 private:
  struct Core;
  // Creates the source on first use. Caller holds _mutex.
  DispatchSourceTimer& timerLocked();

  double _timeInterval;
  std::shared_ptr<DispatchQueue> _queue;
  std::shared_ptr<Core> _core;  // shared with the source's handler, which holds it weakly
  mutable std::mutex _mutex;
  std::shared_ptr<DispatchSourceTimer> _timer;  // guarded by _mutex
  State _state = State::suspended;              // guarded by _mutex
};

}  // namespace vantelkit
