#include "platform/internal/TimerThread.h"

#include <thread>
#include <utility>
#include <vector>

#include "platform/internal/ThreadPlatform.h"

namespace vantelkit {

TimerThread& TimerThread::shared() {
  // Never destroyed: deadlines may still be pending while the process exits.
  static TimerThread* timers = new TimerThread();
  return *timers;
}

TimerThread::TimerThread() {
  std::thread([this] { run(); }).detach();
}

void TimerThread::submitAt(DispatchTime deadline, std::shared_ptr<DispatchQueue> queue, std::function<void()> work) {
  std::lock_guard lock(_mutex);
  Entry entry;
  entry.queue = std::move(queue);
  entry.work = std::move(work);
  _entries.emplace(deadline, std::move(entry));
  _changed.notify_one();
}

void TimerThread::schedule(const std::shared_ptr<DispatchSourceTimer>& timer, DispatchTime deadline,
                           std::optional<std::chrono::nanoseconds> interval) {
  std::lock_guard lock(_mutex);
  Entry entry;
  entry.timer = timer;
  entry.generation = ++timer->_generation;
  if (interval && interval->count() > 0) entry.interval = interval;
  _entries.emplace(deadline, std::move(entry));
  _changed.notify_one();
}

void TimerThread::unschedule(DispatchSourceTimer& timer) {
  std::lock_guard lock(_mutex);
  ++timer._generation;
}

void TimerThread::run() {
  platform::internal::clearPlatformThreadName();
  std::unique_lock lock(_mutex);
  for (;;) {
    if (_entries.empty()) {
      _changed.wait(lock);
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    auto first = _entries.begin();
    if (first->first > now) {
      _changed.wait_until(lock, first->first);
      continue;
    }
    // Take every entry that is due, then deliver with the lock released.
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> work;
    std::vector<std::pair<std::shared_ptr<DispatchSourceTimer>, std::uint64_t>> firings;
    std::vector<std::shared_ptr<DispatchSourceTimer>> stale;  // released outside the lock
    while (!_entries.empty() && _entries.begin()->first <= now) {
      auto node = _entries.extract(_entries.begin());
      Entry& entry = node.mapped();
      if (entry.queue) {
        work.emplace_back(std::move(entry.queue), std::move(entry.work));
        continue;
      }
      auto timer = entry.timer.lock();
      if (!timer) continue;
      if (timer->_generation != entry.generation) {
        stale.push_back(std::move(timer));
        continue;
      }
      std::uint64_t count = 1;
      if (entry.interval) {
        // Firings missed while the thread was late are counted, not replayed.
        auto next = node.key() + *entry.interval;
        if (next <= now) {
          const auto behind = (now - node.key()) / *entry.interval;
          count = static_cast<std::uint64_t>(behind) + 1;
          next = node.key() + *entry.interval * (behind + 1);
        }
        node.key() = next;
        _entries.insert(std::move(node));
      }
      firings.emplace_back(std::move(timer), count);
    }
    lock.unlock();
    for (auto& [queue, item] : work) queue->async(std::move(item));
    for (auto& [timer, count] : firings) timer->fire(count);
    work.clear();
    stale.clear();
    firings.clear();  // may destroy the last reference to a timer: outside the lock
    lock.lock();
  }
}

}  // namespace vantelkit
