// Lets the owner of a handler that runs on queue threads shut it off for good: once close()
// has returned, no call is under way on another thread and none starts.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace vantelkit::internal {

class HandlerGate {
 public:
  // Admits one call for the life of the pass, unless the gate is closed.
  class Pass {
   public:
    explicit Pass(HandlerGate& gate) : _gate(gate), _admitted(gate.enter()) {}
    ~Pass() {
      if (_admitted) _gate.leave();
    }
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;
    explicit operator bool() const { return _admitted; }

   private:
    HandlerGate& _gate;
    bool _admitted;
  };

  // Refuses further calls, then waits for the calls under way on other threads. A call on
  // the closing thread itself (an owner destroyed from inside its own handler) is not waited
  // for, so closing never waits for itself.
  void close() {
    std::unique_lock lock(_mutex);
    _closed = true;
    auto self = std::this_thread::get_id();
    _idle.wait(lock, [&] {
      return std::all_of(_callers.begin(), _callers.end(), [&](auto id) { return id == self; });
    });
  }

 private:
  bool enter() {
    std::lock_guard lock(_mutex);
    if (_closed) return false;
    _callers.push_back(std::this_thread::get_id());
    return true;
  }

  void leave() {
    std::lock_guard lock(_mutex);
    _callers.erase(std::find(_callers.begin(), _callers.end(), std::this_thread::get_id()));
    _idle.notify_all();
  }

  std::mutex _mutex;
  std::condition_variable _idle;
  bool _closed = false;                   // guarded by _mutex
  std::vector<std::thread::id> _callers;  // guarded by _mutex: threads inside the handler now
};

}  // namespace vantelkit::internal
