// The process-wide pool behind every dispatch queue. It keeps at least as many workers as
// there are cores and adds one when queued work makes no progress (its workers are blocked),
// so blocking inside queued work never deadlocks the pool.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "vantelkit/platform/DispatchQueue.h"

namespace vantelkit::internal {

class ThreadPool {
 public:
  static ThreadPool& shared();

  void submit(std::function<void()> job);
  DispatchPoolStatistics statistics();
  void enterBlocking();
  void leaveBlocking();
  static bool isPoolThread();

 private:
  ThreadPool();
  void spawnLocked();
  void workerLoop();
  void monitorLoop();
  bool starvedLocked() const;

  std::mutex _mutex;
  std::condition_variable _workAvailable;
  std::condition_variable _monitorWake;
  std::deque<std::function<void()>> _jobs;  // guarded by _mutex
  std::size_t _threads = 0;                 // guarded by _mutex
  std::size_t _idle = 0;                    // guarded by _mutex
  std::size_t _blocked = 0;                 // guarded by _mutex
  std::size_t _peak = 0;                    // guarded by _mutex
  std::uint64_t _taken = 0;                 // guarded by _mutex: jobs taken so far
  std::size_t _minThreads;
  std::size_t _maxThreads;
};

}  // namespace vantelkit::internal
