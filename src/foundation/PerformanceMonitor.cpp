#include "vantelkit/foundation/PerformanceMonitor.h"

#include <any>

#include "vantelkit/foundation/Logging.h"

namespace vantelkit {

PerformanceMonitor::PerformanceMonitor()
    : PerformanceMonitor(MemoryWatchdog::defaultInterval, platform::SystemMemory::system(),
                         platform::NotificationCenter::defaultCenter()) {}

PerformanceMonitor::PerformanceMonitor(double interval, std::shared_ptr<platform::SystemMemory> memory,
                                       platform::NotificationCenter& center)
    : _memoryWatchdog(interval, std::move(memory), center), _center(center) {
  _observation = _center.addObserver(MemoryWatchdog::didExceedMemoryThreshold,
                                     [this](const platform::Notification& notification) {
                                       exceededMemoryThreshold(notification);
                                     });
  _memoryWatchdog.start();
}

PerformanceMonitor::~PerformanceMonitor() { _center.removeObserver(_observation); }

void PerformanceMonitor::exceededMemoryThreshold(const platform::Notification& notification) {
  const auto* usage = std::any_cast<MemoryWatchdog::MemoryUsage>(&notification.object);
  if (!usage) return;
  // exchange keeps two notifications on different threads from both reporting.
  if (_didReportMemoryWarning.exchange(true)) return;
  LogError(MemoryWatchdog::MemoryError::exceededMemoryThreshold(*usage), "\U0001F9E0",
           LogLocation(__FILE__, "exceededMemoryThreshold(_:)", __LINE__));
}

}  // namespace vantelkit
