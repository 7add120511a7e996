// Owns a memory watchdog, listens for its didExceedMemoryThreshold notification and logs the
// first one as an error (with the brain mark); later ones are ignored. Any other reaction is
// the host's business. Thread safety: safe to use from any thread; the handler runs on the
// notifying thread.
#pragma once

#include <atomic>
#include <memory>

#include "vantelkit/foundation/MemoryWatchdog.h"
#include "vantelkit/platform/NotificationCenter.h"

namespace vantelkit {

class PerformanceMonitor {
 public:
  // Watches this process every 10 seconds through the default centre; sampling starts at once.
  PerformanceMonitor();
  // The same with the watchdog's period, memory source and centre (which must outlive the
  // monitor) chosen by the caller.
  PerformanceMonitor(double interval, std::shared_ptr<platform::SystemMemory> memory,
                     platform::NotificationCenter& center);
  // Stops listening (waiting for a handler call under way on another thread), then stops
  // the watchdog.
  ~PerformanceMonitor();
  PerformanceMonitor(const PerformanceMonitor&) = delete;
  PerformanceMonitor& operator=(const PerformanceMonitor&) = delete;

  MemoryWatchdog& memoryWatchdog() { return _memoryWatchdog; }
  bool didReportMemoryWarning() const { return _didReportMemoryWarning.load(); }

  // The handler of didExceedMemoryThreshold: logs MemoryError::exceededMemoryThreshold once,
  // when the notification's object is a MemoryWatchdog::MemoryUsage; ignores anything else.
  void exceededMemoryThreshold(const platform::Notification& notification);

 private:
  MemoryWatchdog _memoryWatchdog;
  std::atomic<bool> _didReportMemoryWarning{false};
  platform::NotificationCenter& _center;
  platform::NotificationCenter::ObserverToken _observation;
};

}  // namespace vantelkit
