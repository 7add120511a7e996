#include "vantelkit/platform/DispatchQueue.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/internal/ThreadPool.h"
#include "platform/internal/TimerThread.h"

namespace vantelkit {

namespace {

// The queues whose work the calling thread is running, innermost last.
thread_local std::vector<const DispatchQueue*> runningQueues;

struct RunningQueueScope {
  explicit RunningQueueScope(const DispatchQueue* queue) { runningQueues.push_back(queue); }
  ~RunningQueueScope() { runningQueues.pop_back(); }
};

bool isRunningOn(const DispatchQueue* queue) {
  return std::find(runningQueues.begin(), runningQueues.end(), queue) != runningQueues.end();
}

void runWork(const DispatchQueue::Work& work) {
  try {
    if (work) work();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantelkit: work on a dispatch queue threw: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "vantelkit: work on a dispatch queue threw an unknown exception\n");
  }
}

// Runs work on another queue and waits for it; the waiting thread counts as blocked.
void submitAndWait(DispatchQueue& queue, DispatchQueue::Work work) {
  struct Completion {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
  };
  auto completion = std::make_shared<Completion>();
  queue.async([completion, work = std::move(work)] {
    runWork(work);
    std::lock_guard lock(completion->mutex);
    completion->finished = true;
    completion->done.notify_all();
  });
  DispatchBlockingScope blocking;
  std::unique_lock lock(completion->mutex);
  completion->done.wait(lock, [&] { return completion->finished; });
}

// ---------------------------------------------------------------------------------------

class GlobalQueue final : public DispatchQueue {
 public:
  GlobalQueue(std::string label, QualityOfService qos) : DispatchQueue(std::move(label), qos, false) {}

  void async(Work work) override {
    internal::ThreadPool::shared().submit([this, work = std::move(work)] {
      RunningQueueScope scope(this);
      runWork(work);
    });
  }

  void sync(Work work) override {
    RunningQueueScope scope(this);
    runWork(work);
  }
};

// ---------------------------------------------------------------------------------------

class SerialQueue final : public DispatchQueue {
 public:
  SerialQueue(std::string label, QualityOfService qos, std::shared_ptr<DispatchQueue> target)
      : DispatchQueue(std::move(label), qos, true), _target(std::move(target)) {}

  void async(Work work) override {
    std::unique_lock lock(_mutex);
    _items.push_back(std::move(work));
    if (!_draining) {
      _draining = true;
      lock.unlock();
      scheduleDrain();
    }
  }

  void sync(Work work) override {
    if (isRunningOn(this)) {
      runWork(work);
      return;
    }
    std::unique_lock lock(_mutex);
    if (!_draining && _items.empty()) {
      // Idle: run on the calling thread, as the queue's only running item. Behind a serial
      // target the item must also hold the target, as every turn of this queue does, or it
      // would overlap the target's own work and that of the other queues on it.
      _draining = true;
      lock.unlock();
      auto runHere = [this, &work] {
        RunningQueueScope scope(this);
        runWork(work);
      };
      if (_target && _target->isSerial()) {
        _target->sync(runHere);
      } else {
        runHere();
      }
      lock.lock();
      if (_items.empty()) {
        _draining = false;
      } else {
        lock.unlock();
        scheduleDrain();
      }
      return;
    }
    lock.unlock();
    submitAndWait(*this, std::move(work));
  }

 private:
  // Items run per turn before the queue yields its worker to other queues.
  static constexpr int kItemsPerTurn = 64;

  void scheduleDrain() {
    auto self = std::static_pointer_cast<SerialQueue>(shared_from_this());
    auto drain = [self] { self->drainTurn(); };
    if (_target) {
      _target->async(std::move(drain));
    } else {
      internal::ThreadPool::shared().submit(std::move(drain));
    }
  }

  void drainTurn() {
    RunningQueueScope scope(this);
    for (int i = 0; i < kItemsPerTurn; ++i) {
      Work work;
      {
        std::lock_guard lock(_mutex);
        if (_items.empty()) {
          _draining = false;
          return;
        }
        work = std::move(_items.front());
        _items.pop_front();
      }
      runWork(work);
    }
    {
      std::lock_guard lock(_mutex);
      if (_items.empty()) {
        _draining = false;
        return;
      }
    }
    scheduleDrain();
  }

  std::shared_ptr<DispatchQueue> _target;
  std::mutex _mutex;
  std::deque<Work> _items;  // guarded by _mutex
  bool _draining = false;   // guarded by _mutex: a turn is scheduled or running
};

// ---------------------------------------------------------------------------------------

std::thread::id initialThreadId() {
  static const std::thread::id id = std::this_thread::get_id();
  return id;
}
// Read during static initialisation, on the process's first thread.
[[maybe_unused]] const std::thread::id initialThreadIdAtStart = initialThreadId();

class MainDispatchQueue final : public DispatchQueue {
 public:
  MainDispatchQueue() : DispatchQueue("com.apple.main-thread", QualityOfService::userInteractive, true) {}

  void async(Work work) override {
    std::function<void()> wakeUp;
    {
      std::lock_guard lock(_mutex);
      _items.push_back(std::move(work));
      wakeUp = _wakeUp;
      _changed.notify_all();
    }
    if (wakeUp) wakeUp();
  }

  void sync(Work work) override {
    if (MainQueue::isMainThread()) {
      RunningQueueScope scope(this);
      runWork(work);
      return;
    }
    submitAndWait(*this, std::move(work));
  }

  void setWakeUp(std::function<void()> handler) {
    std::lock_guard lock(_mutex);
    _wakeUp = std::move(handler);
  }

  std::size_t drain() {
    bindToCurrentThread();
    std::size_t count;
    {
      std::lock_guard lock(_mutex);
      count = _items.size();
    }
    std::size_t ran = 0;
    while (ran < count && runOne()) ++ran;
    return ran;
  }

  bool runUntil(const std::function<bool()>& condition, double timeoutSeconds) {
    bindToCurrentThread();
    const auto deadline = dispatchTimeAfter(timeoutSeconds);
    for (;;) {
      if (condition()) return true;
      if (runOne()) continue;
      std::unique_lock lock(_mutex);
      if (_items.empty()) {
        if (std::chrono::steady_clock::now() >= deadline) {
          lock.unlock();
          return condition();
        }
        // Wake now and then: the condition may depend on work elsewhere.
        auto wakeAt = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
        _changed.wait_until(lock, wakeAt, [this] { return !_items.empty(); });
      }
    }
  }

  std::size_t pending() {
    std::lock_guard lock(_mutex);
    return _items.size();
  }

  bool isMainThread() const { return std::this_thread::get_id() == _mainThread.load(std::memory_order_acquire); }

 private:
  void bindToCurrentThread() { _mainThread.store(std::this_thread::get_id(), std::memory_order_release); }

  bool runOne() {
    Work work;
    {
      std::lock_guard lock(_mutex);
      if (_items.empty()) return false;
      work = std::move(_items.front());
      _items.pop_front();
    }
    RunningQueueScope scope(this);
    runWork(work);
    return true;
  }

  std::mutex _mutex;
  std::condition_variable _changed;
  std::deque<Work> _items;                          // guarded by _mutex
  std::function<void()> _wakeUp;                    // guarded by _mutex
  std::atomic<std::thread::id> _mainThread{initialThreadId()};
};

MainDispatchQueue& mainQueue() {
  // Never destroyed: work may be submitted while the process exits.
  static auto* queue = new std::shared_ptr<MainDispatchQueue>(std::make_shared<MainDispatchQueue>());
  return **queue;
}

}  // namespace

DispatchTime dispatchTimeAfter(double seconds) {
  if (!(seconds > 0)) return std::chrono::steady_clock::now();
  // Beyond about 292 years a nanosecond count overflows; such a deadline is "never".
  constexpr double kMaxSeconds = 9.0e9;
  const auto nanoseconds = static_cast<std::int64_t>(std::min(seconds, kMaxSeconds) * 1e9);
  return std::chrono::steady_clock::now() + std::chrono::nanoseconds(nanoseconds);
}

std::shared_ptr<DispatchQueue> DispatchQueue::main() { return mainQueue().shared_from_this(); }

std::shared_ptr<DispatchQueue> DispatchQueue::global(QualityOfService qos) {
  static auto* queues = [] {
    auto* all = new std::vector<std::shared_ptr<DispatchQueue>>();
    const char* labels[] = {"com.apple.root.background-qos", "com.apple.root.utility-qos",
                            "com.apple.root.default-qos",    "com.apple.root.user-initiated-qos",
                            "com.apple.root.user-interactive-qos", "com.apple.root.default-qos"};
    for (int i = 0; i < 6; ++i) {
      all->push_back(std::make_shared<GlobalQueue>(labels[i], static_cast<QualityOfService>(i)));
    }
    return all;
  }();
  return (*queues)[static_cast<std::size_t>(qos)];
}

std::shared_ptr<DispatchQueue> DispatchQueue::makeSerial(std::string label, QualityOfService qos,
                                                         std::shared_ptr<DispatchQueue> target) {
  return std::make_shared<SerialQueue>(std::move(label), qos, std::move(target));
}

void DispatchQueue::asyncAfter(DispatchTime deadline, Work work) {
  TimerThread::shared().submitAt(deadline, shared_from_this(), std::move(work));
}

std::shared_ptr<DispatchQueue> DispatchQueue::current() {
  if (runningQueues.empty()) return nullptr;
  return const_cast<DispatchQueue*>(runningQueues.back())->weak_from_this().lock();
}

void MainQueue::setWakeUpHandler(std::function<void()> handler) { mainQueue().setWakeUp(std::move(handler)); }
std::size_t MainQueue::drain() { return mainQueue().drain(); }
bool MainQueue::runUntil(const std::function<bool()>& condition, double timeoutSeconds) {
  return mainQueue().runUntil(condition, timeoutSeconds);
}
void MainQueue::runFor(double seconds) {
  mainQueue().runUntil([] { return false; }, seconds);
}
bool MainQueue::isMainThread() { return mainQueue().isMainThread(); }
std::size_t MainQueue::pendingCount() { return mainQueue().pending(); }

DispatchBlockingScope::DispatchBlockingScope() : _active(internal::ThreadPool::isPoolThread()) {
  if (_active) internal::ThreadPool::shared().enterBlocking();
}

DispatchBlockingScope::~DispatchBlockingScope() {
  if (_active) internal::ThreadPool::shared().leaveBlocking();
}

DispatchPoolStatistics dispatchPoolStatistics() { return internal::ThreadPool::shared().statistics(); }

}  // namespace vantelkit
