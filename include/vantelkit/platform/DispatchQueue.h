// Dispatch queues: the main queue, global concurrent queues and labelled serial queues,
// all backed by one process-wide thread pool that grows while its workers block.
// Thread safety: every function here is safe to call from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace vantelkit {

// Scheduling class of a queue or procedure. The pool records it; it does not reorder work by it.
enum class QualityOfService { background, utility, standard, userInitiated, userInteractive, unspecified };

using DispatchTime = std::chrono::steady_clock::time_point;

// Returns now + seconds, with seconds cut to whole nanoseconds. Negative or NaN counts as 0.
DispatchTime dispatchTimeAfter(double seconds);

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
 public:
  using Work = std::function<void()>;

  // The queue drained by the host on its main thread (see MainQueue below).
  static std::shared_ptr<DispatchQueue> main();
  // The concurrent queue of the given class; one instance per class, living for the process.
  static std::shared_ptr<DispatchQueue> global(QualityOfService qos = QualityOfService::standard);
  // A new serial queue: its work runs one item at a time, in submission order, on pool
  // threads (or on the target queue when one is given). Behind a serial target, its work
  // (async or sync) never overlaps the target's own work nor that of the target's other queues.
  static std::shared_ptr<DispatchQueue> makeSerial(std::string label,
                                                   QualityOfService qos = QualityOfService::unspecified,
                                                   std::shared_ptr<DispatchQueue> target = nullptr);

  virtual ~DispatchQueue() = default;
  DispatchQueue(const DispatchQueue&) = delete;
  DispatchQueue& operator=(const DispatchQueue&) = delete;

  const std::string& label() const { return _label; }
  QualityOfService qualityOfService() const { return _qos; }
  bool isSerial() const { return _serial; }

  // Submits work and returns at once. A queue keeps itself alive until its work has run.
  virtual void async(Work work) = 0;
  // Runs work on the queue and returns when it has finished. Called from a thread that is
  // already running this serial queue (or from the main thread for the main queue), the work
  // runs inline instead of deadlocking.
  virtual void sync(Work work) = 0;
  // Submits work at the deadline (or at once when it has passed). Work with earlier
  // deadlines is submitted first.
  void asyncAfter(DispatchTime deadline, Work work);
  void asyncAfter(double seconds, Work work) { asyncAfter(dispatchTimeAfter(seconds), std::move(work)); }

  // The queue whose work the calling thread is running, or null.
  static std::shared_ptr<DispatchQueue> current();

 protected:
  DispatchQueue(std::string label, QualityOfService qos, bool serial)
      : _label(std::move(label)), _qos(qos), _serial(serial) {}

 private:
  std::string _label;
  QualityOfService _qos;
  bool _serial;
};

// Control of the main queue for its host. The host either calls drain() from its own event
// loop (a wake-up handler tells it that there is work), or a CLI or test calls runUntil().
// The thread that drains the main queue is the main thread.
class MainQueue {
 public:
  // Called, on the submitting thread, whenever work is added to the main queue. Replaces the
  // previous handler; an empty function removes it.
  static void setWakeUpHandler(std::function<void()> handler);
  // Runs the work pending now, on the calling thread, which becomes the main thread.
  // Returns how many items ran.
  static std::size_t drain();
  // Drains the main queue on the calling thread, waiting for new work, until condition()
  // answers true (checked before and after each item) or the timeout passes. Returns the
  // condition's last answer.
  static bool runUntil(const std::function<bool()>& condition, double timeoutSeconds);
  // Runs the main queue for the given time.
  static void runFor(double seconds);
  // Whether the calling thread is the main thread: the thread that drains the main queue,
  // or before anything drained it, the process's first thread.
  static bool isMainThread();
  // Number of items waiting.
  static std::size_t pendingCount();
};

// Marks a stretch in which the calling thread waits for other work (a scan waiting for its
// traversal, a sync call on a busy queue). On a pool thread it lets the pool start another
// worker at once instead of waiting to notice the stall; elsewhere it does nothing.
class DispatchBlockingScope {
 public:
  DispatchBlockingScope();
  ~DispatchBlockingScope();
  DispatchBlockingScope(const DispatchBlockingScope&) = delete;
  DispatchBlockingScope& operator=(const DispatchBlockingScope&) = delete;

 private:
  bool _active;
};

// Statistics of the shared thread pool, for tests and diagnostics.
struct DispatchPoolStatistics {
  std::size_t threads = 0;
  std::size_t idleThreads = 0;
  std::size_t pendingItems = 0;
  std::size_t peakThreads = 0;
};
DispatchPoolStatistics dispatchPoolStatistics();

}  // namespace vantelkit
