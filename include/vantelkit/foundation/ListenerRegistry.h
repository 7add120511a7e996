// The listeners of a driver that runs its work as procedures (the clean and the application
// scanner), and that driver's diagnostic hook on the procedures it queues. Listeners are
// held strongly until removed, are equal when they are the same object, and hear of events
// on the main queue.
// Thread safety: every member is safe to call from any thread; notifications run on the
// main queue, which the host drains.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "vantelkit/foundation/Operation.h"
#include "vantelkit/foundation/Procedure.h"
#include "vantelkit/platform/DispatchQueue.h"

namespace vantelkit {

template <class Listener>
class ListenerRegistry {
 public:
  ListenerRegistry() = default;
  ListenerRegistry(const ListenerRegistry&) = delete;
  ListenerRegistry& operator=(const ListenerRegistry&) = delete;

  // Adds listener unless it is null or already added.
  void add(std::shared_ptr<Listener> listener) {
    if (!listener) return;
    std::lock_guard lock(_state->mutex);
    auto& listeners = _state->listeners;
    if (std::find(listeners.begin(), listeners.end(), listener) == listeners.end()) {
      listeners.push_back(std::move(listener));
    }
  }
  void remove(const std::shared_ptr<Listener>& listener) {
    std::lock_guard lock(_state->mutex);
    std::erase(_state->listeners, listener);
  }
  // The listeners now, in the order they were added.
  std::vector<std::shared_ptr<Listener>> listeners() const { return _state->snapshot(); }

  // Calls notification later on the main queue, once for each listener registered by then;
  // nothing is called when the registry is destroyed before that.
  void notify(std::function<void(Listener&)> notification) const {
    DispatchQueue::main()->async([weakState = std::weak_ptr<State>(_state), notification = std::move(notification)] {
      auto state = weakState.lock();
      if (!state) return;
      for (const auto& listener : state->snapshot()) notification(*listener);
    });
  }

  // Called, on the adding thread, with every procedure that addToQueue() adds, before it
  // is added.
  void setWillAddProcedureHandler(std::function<void(Procedure&)> handler) {
    std::lock_guard lock(_state->mutex);
    _state->willAddProcedure = std::move(handler);
  }
  // Shows each procedure to the will-add handler, then adds them all to queue.
  void addToQueue(OperationQueue& queue, const std::vector<std::shared_ptr<Procedure>>& procedures) const {
    std::function<void(Procedure&)> willAdd;
    {
      std::lock_guard lock(_state->mutex);
      willAdd = _state->willAddProcedure;
    }
    if (willAdd) {
      for (const auto& procedure : procedures) willAdd(*procedure);
    }
    queue.addOperations(procedures);
  }

 private:
  // Shared with the notifications in flight, which hold it weakly.
  struct State {
    std::vector<std::shared_ptr<Listener>> snapshot() {
      std::lock_guard lock(mutex);
      return listeners;
    }

    std::mutex mutex;
    // Guarded by mutex:
    std::vector<std::shared_ptr<Listener>> listeners;
    std::function<void(Procedure&)> willAddProcedure;
  };

  std::shared_ptr<State> _state = std::make_shared<State>();
};

}  // namespace vantelkit
