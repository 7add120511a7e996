#include "vantelkit/platform/DispatchSource.h"

#include <fmt/format.h>

#include <cstdio>
#include <exception>

#include "platform/internal/TimerThread.h"

namespace vantelkit {

DispatchSource::DispatchSource(std::shared_ptr<DispatchQueue> queue, const char* kind)
    : _kind(kind), _queue(queue ? std::move(queue) : DispatchQueue::global()) {}

DispatchSource::~DispatchSource() = default;

void DispatchSource::setEventHandler(Handler handler) {
  std::shared_ptr<Handler> old;
  {
    std::lock_guard lock(_mutex);
    if (_cancelled) return;
    old = std::move(_eventHandler);
    if (handler) _eventHandler = std::make_shared<Handler>(std::move(handler));
  }
  // The old handler (and what it captured) is released outside the lock.
}

void DispatchSource::setCancelHandler(Handler handler) {
  std::shared_ptr<Handler> old;
  std::lock_guard lock(_mutex);
  if (_cancelled) return;
  old = std::move(_cancelHandler);
  if (handler) _cancelHandler = std::make_shared<Handler>(std::move(handler));
}

void DispatchSource::resume() {
  bool schedule = false;
  {
    std::lock_guard lock(_mutex);
    if (_suspendCount == 0) {
      std::fprintf(stderr, "vantelkit: resume of a source that is not suspended is ignored\n");
      return;
    }
    --_suspendCount;
    schedule = _suspendCount == 0 && !_cancelled && !_deliveryScheduled && _pending > 0;
    if (schedule) _deliveryScheduled = true;
  }
  if (schedule) scheduleDeliveryLocked();
}

void DispatchSource::suspend() {
  std::lock_guard lock(_mutex);
  ++_suspendCount;
}

void DispatchSource::cancel() {
  std::shared_ptr<Handler> event;
  std::shared_ptr<Handler> cancelHandler;
  {
    std::lock_guard lock(_mutex);
    if (_cancelled) return;
    _cancelled = true;
    _pending = 0;
    event = std::move(_eventHandler);
    cancelHandler = std::move(_cancelHandler);
  }
  didCancel();
  if (cancelHandler) _queue->async([cancelHandler] { (*cancelHandler)(); });
}

bool DispatchSource::isCancelled() const {
  std::lock_guard lock(_mutex);
  return _cancelled;
}

std::uint64_t DispatchSource::data() const {
  std::lock_guard lock(_mutex);
  return _current;
}

std::string DispatchSource::debugDescription() const {
  std::lock_guard lock(_mutex);
  return fmt::format("<{}: {}; suspend = {}, cancelled = {}, pending = {}, queue = {}>", _kind,
                     static_cast<const void*>(this), _suspendCount, _cancelled ? 1 : 0, _pending, _queue->label());
}

void DispatchSource::merge(std::uint64_t value) {
  if (value == 0) return;
  bool schedule = false;
  {
    std::lock_guard lock(_mutex);
    if (_cancelled) return;
    _pending += value;
    schedule = _suspendCount == 0 && !_deliveryScheduled && _eventHandler != nullptr;
    if (schedule) _deliveryScheduled = true;
  }
  if (schedule) scheduleDeliveryLocked();
}

// Called with _deliveryScheduled already set (and the mutex released).
void DispatchSource::scheduleDeliveryLocked() {
  auto self = weak_from_this().lock();
  if (!self) {
    std::lock_guard lock(_mutex);
    _deliveryScheduled = false;
    return;
  }
  _queue->async([self] { self->deliver(); });
}

void DispatchSource::deliver() {
  std::shared_ptr<Handler> handler;
  {
    std::lock_guard lock(_mutex);
    if (_cancelled || _suspendCount > 0 || _pending == 0 || !_eventHandler) {
      _deliveryScheduled = false;
      return;
    }
    handler = _eventHandler;
    _current = _pending;
    _pending = 0;
  }
  try {
    (*handler)();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantelkit: a source's event handler threw: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "vantelkit: a source's event handler threw an unknown exception\n");
  }
  handler.reset();
  bool again = false;
  {
    std::lock_guard lock(_mutex);
    again = !_cancelled && _suspendCount == 0 && _pending > 0 && _eventHandler != nullptr;
    if (!again) _deliveryScheduled = false;
  }
  // One delivery at a time: events that arrived while the handler ran are merged into the next.
  if (again) scheduleDeliveryLocked();
}

// ---------------------------------------------------------------------------------------

DispatchSourceTimer::DispatchSourceTimer(std::shared_ptr<DispatchQueue> queue)
    : DispatchSource(std::move(queue), "DispatchSourceTimer") {}

DispatchSourceTimer::~DispatchSourceTimer() { TimerThread::shared().unschedule(*this); }

std::shared_ptr<DispatchSourceTimer> DispatchSourceTimer::make(std::shared_ptr<DispatchQueue> queue) {
  return std::shared_ptr<DispatchSourceTimer>(new DispatchSourceTimer(std::move(queue)));
}

void DispatchSourceTimer::schedule(DispatchTime deadline, std::optional<double> repeatingInterval,
                                   double /*leewaySeconds*/) {
  if (isCancelled()) return;
  std::optional<std::chrono::nanoseconds> interval;
  if (repeatingInterval && *repeatingInterval > 0) {
    interval = std::chrono::nanoseconds(static_cast<std::int64_t>(std::min(*repeatingInterval, 9.0e9) * 1e9));
    if (interval->count() == 0) interval = std::chrono::nanoseconds(1);
  }
  auto self = std::static_pointer_cast<DispatchSourceTimer>(shared_from_this());
  TimerThread::shared().schedule(self, deadline, interval);
}

void DispatchSourceTimer::fire(std::uint64_t count) { merge(count); }

void DispatchSourceTimer::didCancel() { TimerThread::shared().unschedule(*this); }

// ---------------------------------------------------------------------------------------

DispatchSourceUserDataAdd::DispatchSourceUserDataAdd(std::shared_ptr<DispatchQueue> queue)
    : DispatchSource(std::move(queue), "DispatchSourceUserDataAdd") {}

std::shared_ptr<DispatchSourceUserDataAdd> DispatchSourceUserDataAdd::make(std::shared_ptr<DispatchQueue> queue) {
  return std::shared_ptr<DispatchSourceUserDataAdd>(new DispatchSourceUserDataAdd(std::move(queue)));
}

void DispatchSourceUserDataAdd::add(std::uint64_t value) { merge(value); }

}  // namespace vantelkit
