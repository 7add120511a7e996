#include "platform/internal/ThreadPool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include "platform/internal/ThreadPlatform.h"

namespace vantelkit::internal {

namespace {

thread_local bool onPoolThread = false;

// A worker that has had nothing to do for this long ends, while more than the minimum run.
constexpr auto kIdleTimeout = std::chrono::seconds(5);

void runJob(std::function<void()>& job) {
  try {
    job();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantelkit: work on a dispatch queue threw: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "vantelkit: work on a dispatch queue threw an unknown exception\n");
  }
}

}  // namespace

ThreadPool& ThreadPool::shared() {
  // Never destroyed: workers may still be running while the process exits.
  static ThreadPool* pool = new ThreadPool();
  return *pool;
}

ThreadPool::ThreadPool()
    : _minThreads(std::max<std::size_t>(2, std::thread::hardware_concurrency())), _maxThreads(512) {
  std::thread([this] { monitorLoop(); }).detach();
}

bool ThreadPool::isPoolThread() { return onPoolThread; }

void ThreadPool::submit(std::function<void()> job) {
  std::unique_lock lock(_mutex);
  _jobs.push_back(std::move(job));
  if (_jobs.size() <= _idle) {
    _workAvailable.notify_one();
  } else if (_threads - std::min(_threads, _blocked) < _minThreads && _threads < _maxThreads) {
    spawnLocked();
  } else {
    _monitorWake.notify_one();
  }
}

void ThreadPool::spawnLocked() {
  ++_threads;
  _peak = std::max(_peak, _threads);
  std::thread([this] { workerLoop(); }).detach();
}

void ThreadPool::workerLoop() {
  onPoolThread = true;
  platform::internal::clearPlatformThreadName();
  std::unique_lock lock(_mutex);
  for (;;) {
    if (_jobs.empty()) {
      ++_idle;
      bool woke = _workAvailable.wait_for(lock, kIdleTimeout, [this] { return !_jobs.empty(); });
      --_idle;
      if (!woke && _threads > _minThreads) {
        --_threads;
        return;
      }
      if (_jobs.empty()) continue;
    }
    auto job = std::move(_jobs.front());
    _jobs.pop_front();
    ++_taken;
    lock.unlock();
    runJob(job);
    job = nullptr;  // release captures before taking the lock again
    lock.lock();
  }
}

bool ThreadPool::starvedLocked() const { return !_jobs.empty() && _idle == 0 && _threads < _maxThreads; }

void ThreadPool::monitorLoop() {
  std::unique_lock lock(_mutex);
  for (;;) {
    if (!_monitorWake.wait_for(lock, std::chrono::milliseconds(50), [this] { return starvedLocked(); })) continue;
    // Give the busy workers a moment; the longer the pool has grown past its minimum, the
    // longer it waits before growing again.
    const std::uint64_t takenBefore = _taken;
    const std::size_t extra = _threads > _minThreads ? _threads - _minThreads : 0;
    const auto patience = std::chrono::milliseconds(2 + std::min<std::size_t>(extra, 48));
    _monitorWake.wait_for(lock, patience, [] { return false; });
    if (starvedLocked() && _taken == takenBefore) spawnLocked();
  }
}

void ThreadPool::enterBlocking() {
  std::lock_guard lock(_mutex);
  ++_blocked;
  if (!_jobs.empty() && _idle == 0 && _threads - std::min(_threads, _blocked) < _minThreads &&
      _threads < _maxThreads) {
    spawnLocked();
  }
}

void ThreadPool::leaveBlocking() {
  std::lock_guard lock(_mutex);
  --_blocked;
}

DispatchPoolStatistics ThreadPool::statistics() {
  std::lock_guard lock(_mutex);
  return {_threads, _idle, _jobs.size(), _peak};
}

}  // namespace vantelkit::internal
