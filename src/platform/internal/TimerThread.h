// One thread that waits for the deadlines of asyncAfter and of timer sources.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "vantelkit/platform/DispatchSource.h"

namespace vantelkit {

class TimerThread {
 public:
  static TimerThread& shared();

  void submitAt(DispatchTime deadline, std::shared_ptr<DispatchQueue> queue, std::function<void()> work);
  // Replaces the schedule of timer; a one-shot timer has no interval.
  void schedule(const std::shared_ptr<DispatchSourceTimer>& timer, DispatchTime deadline,
                std::optional<std::chrono::nanoseconds> interval);
  void unschedule(DispatchSourceTimer& timer);

 private:
  struct Entry {
    std::shared_ptr<DispatchQueue> queue;
    std::function<void()> work;
    std::weak_ptr<DispatchSourceTimer> timer;
    std::uint64_t generation = 0;
    std::optional<std::chrono::nanoseconds> interval;
  };

  TimerThread();
  void run();

  std::mutex _mutex;
  std::condition_variable _changed;
  std::multimap<DispatchTime, Entry> _entries;  // guarded by _mutex
};

}  // namespace vantelkit
