// Dispatch sources: timers and user-data "add" sources that deliver events to a queue.
// A new source is suspended; resume() and suspend() are counted as the platform counts
// them. cancel() stops delivery for good: a delivery already under way may finish, no other
// starts, and the event handler is released.
// Thread safety: every function is safe to call from any thread. Destroying the last
// reference cancels the source.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "vantelkit/platform/DispatchQueue.h"

namespace vantelkit {

class DispatchSource : public std::enable_shared_from_this<DispatchSource> {
 public:
  using Handler = std::function<void()>;

  virtual ~DispatchSource();
  DispatchSource(const DispatchSource&) = delete;
  DispatchSource& operator=(const DispatchSource&) = delete;

  // Replaces the event handler; takes effect at the next delivery. An empty function
  // delivers nothing.
  void setEventHandler(Handler handler);
  // Runs once on the queue after cancel().
  void setCancelHandler(Handler handler);
  // Lowers the suspension count; at zero, events are delivered. Resuming a source that is
  // not suspended is a programming error: it is logged to stderr and ignored.
  void resume();
  // Raises the suspension count; events arriving meanwhile are merged and delivered on resume.
  void suspend();
  // Stops the source for good and releases its event handler.
  void cancel();
  bool isCancelled() const;
  // The merged value of the events of the delivery in progress: for a timer, the number of
  // firings; for an add source, the sum of the additions. Read it from the event handler.
  std::uint64_t data() const;
  // Like "<DispatchSourceTimer: 0x...; suspend = 1, cancelled = 0, queue = label>".
  std::string debugDescription() const;

 protected:
  DispatchSource(std::shared_ptr<DispatchQueue> queue, const char* kind);
  // Merges value into the pending data and schedules a delivery if the source is active.
  void merge(std::uint64_t value);
  // Called once by cancel(), outside the source's lock: a kind of source stops its event feed.
  virtual void didCancel() {}

 private:
  void scheduleDeliveryLocked();
  void deliver();

  const char* _kind;
  std::shared_ptr<DispatchQueue> _queue;
  mutable std::mutex _mutex;
  int _suspendCount = 1;          // guarded by _mutex
  bool _cancelled = false;        // guarded by _mutex
  bool _deliveryScheduled = false;  // guarded by _mutex
  std::uint64_t _pending = 0;     // guarded by _mutex
  std::uint64_t _current = 0;     // guarded by _mutex: data of the delivery in progress
  std::shared_ptr<Handler> _eventHandler;   // guarded by _mutex
  std::shared_ptr<Handler> _cancelHandler;  // guarded by _mutex
};

class DispatchSourceTimer : public DispatchSource {
 public:
  // A suspended timer on queue (the default global queue when null).
  static std::shared_ptr<DispatchSourceTimer> make(std::shared_ptr<DispatchQueue> queue = nullptr);
  ~DispatchSourceTimer() override;

  // First firing at deadline, then every interval seconds when one is given (one-shot
  // otherwise). Rescheduling replaces the previous schedule. The leeway is accepted for
  // fidelity; firings are as punctual as the system allows.
  void schedule(DispatchTime deadline, std::optional<double> repeatingInterval = std::nullopt,
                double leewaySeconds = 0);

 private:
  explicit DispatchSourceTimer(std::shared_ptr<DispatchQueue> queue);
  void didCancel() override;
  friend class TimerThread;
  void fire(std::uint64_t count);
  std::uint64_t _generation = 0;  // guarded by the timer thread's lock
};

class DispatchSourceUserDataAdd : public DispatchSource {
 public:
  static std::shared_ptr<DispatchSourceUserDataAdd> make(std::shared_ptr<DispatchQueue> queue = nullptr);
  // Adds value (0 is ignored). Additions that arrive before the handler runs are merged,
  // so the handler runs at most once per turn of its queue.
  void add(std::uint64_t value);

 private:
  explicit DispatchSourceUserDataAdd(std::shared_ptr<DispatchQueue> queue);
};

}  // namespace vantelkit
