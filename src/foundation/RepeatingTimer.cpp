#include "vantelkit/foundation/RepeatingTimer.h"

#include "foundation/internal/HandlerGate.h"

namespace vantelkit {

struct RepeatingTimer::Core {
  void fire() {
    internal::HandlerGate::Pass pass(gate);
    if (!pass) return;
    EventHandler handler;
    {
      std::lock_guard lock(mutex);
      handler = eventHandler;
    }
    if (handler) handler();
  }

  std::mutex mutex;
  EventHandler eventHandler;  // guarded by mutex
  internal::HandlerGate gate;
};

std::shared_ptr<RepeatingTimer> RepeatingTimer::make(double timeInterval, std::shared_ptr<DispatchQueue> queue) {
  return std::make_shared<RepeatingTimer>(timeInterval, std::move(queue));
}

RepeatingTimer::RepeatingTimer(double timeInterval, std::shared_ptr<DispatchQueue> queue)
    : _timeInterval(timeInterval >= minimumInterval ? timeInterval : minimumInterval),
      _queue(std::move(queue)),
      _core(std::make_shared<Core>()) {}

RepeatingTimer::~RepeatingTimer() {
  {
    std::lock_guard lock(_mutex);
    if (_timer) {
      _timer->setEventHandler({});
      _timer->cancel();
      if (_state != State::resumed) _timer->resume();
    }
  }
  _core->gate.close();
}

DispatchSourceTimer& RepeatingTimer::timerLocked() {
  if (!_timer) {
    _timer = DispatchSourceTimer::make(_queue);
    _timer->schedule(dispatchTimeAfter(_timeInterval), _timeInterval, 0);
    _timer->setEventHandler([weakCore = std::weak_ptr<Core>(_core)] {
      if (auto core = weakCore.lock()) core->fire();
    });
  }
  return *_timer;
}

void RepeatingTimer::resume() {
  std::lock_guard lock(_mutex);
  if (_state != State::suspended) return;
  _state = State::resumed;
  timerLocked().resume();
}

void RepeatingTimer::suspend() {
  std::lock_guard lock(_mutex);
  if (_state != State::resumed) return;
  _state = State::suspended;
  timerLocked().suspend();
}

RepeatingTimer::State RepeatingTimer::state() const {
  std::lock_guard lock(_mutex);
  return _state;
}

void RepeatingTimer::setState(State state) {
  if (state == State::resumed) {
    resume();
  } else {
    suspend();
  }
}

RepeatingTimer::EventHandler RepeatingTimer::eventHandler() const {
  std::lock_guard lock(_core->mutex);
  return _core->eventHandler;
}

void RepeatingTimer::setEventHandler(EventHandler handler) {
  std::lock_guard lock(_core->mutex);
  _core->eventHandler = std::move(handler);
}

}  // namespace vantelkit
