// Bounded waiting for threaded tests: a deadlock or an event that never comes fails the test
// instead of hanging it.
#pragma once

#include <chrono>
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

}  // namespace vantelkit::testing
