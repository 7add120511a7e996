// Bounded waiting for threaded tests: a deadlock or an event that never comes fails the test
// instead of hanging it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vantelkit::testing {

inline constexpr std::chrono::seconds kPatience{20};

// Polls predicate every millisecond until it holds (true) or the limit passes (false).
template <class Predicate>
bool waitUntil(Predicate predicate, std::chrono::milliseconds limit = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A one-shot gate: threads wait (bounded) until a test opens it.
class Gate {
 public:
  void open() {
    std::lock_guard lock(_mutex);
    _open = true;
    _condition.notify_all();
  }
  // True when opened within the limit.
  bool wait(std::chrono::milliseconds limit = kPatience) {
    std::unique_lock lock(_mutex);
    return _condition.wait_for(lock, limit, [&] { return _open; });
  }

 private:
  std::mutex _mutex;
  std::condition_variable _condition;
  bool _open = false;  // guarded by _mutex
};

}  // namespace vantelkit::testing
