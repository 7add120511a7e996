// Watches this process's resident memory: while running, it samples every interval on the
// serial background queue "Memory Watchdog" and, whenever usage is above threshold × physical
// memory, posts didExceedMemoryThreshold with the MemoryUsage as the notification's object.
// Thread safety: every member function is safe to call from any thread; observers of the
// notification are called on the watchdog's queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/platform/DispatchSource.h"
#include "vantelkit/platform/NotificationCenter.h"
#include "vantelkit/platform/SystemMemory.h"

namespace vantelkit {

class MemoryWatchdog {
 public:
  enum class State { suspended, running };

  struct MemoryUsage {
    std::uint64_t used = 0;   // bytes resident for this process
    std::uint64_t total = 0;  // bytes of physical memory

    // "<used> used out of <total> total", both in the byte-count formatter's memory style.
    std::string description() const;
    bool operator==(const MemoryUsage&) const = default;

    // The usage of this process now, or none when memory cannot read it (or reports no
    // physical memory).
    static std::optional<MemoryUsage> read(platform::SystemMemory& memory);
  };

  class MemoryError final : public Error {
   public:
    enum class Case { exceededMemoryThreshold, failedToRead };

    static MemoryError exceededMemoryThreshold(MemoryUsage usage) { return MemoryError(Case::exceededMemoryThreshold, usage); }
    static MemoryError failedToRead() { return MemoryError(Case::failedToRead, std::nullopt); }

    Case errorCase() const { return _case; }
    // The usage that exceededMemoryThreshold carries; none for failedToRead.
    const std::optional<MemoryUsage>& usage() const { return _usage; }

    std::string typeName() const override { return "MemoryError"; }
    std::string description() const override;
    // "Exceeded memory threshold: <usage description>" or "Failed to read system memory".
    std::string localizedDescription() const override;

   private:
    MemoryError(Case errorCase, std::optional<MemoryUsage> usage) : _case(errorCase), _usage(usage) {}
    Case _case;
    std::optional<MemoryUsage> _usage;
  };

  // The notification's name.
  static constexpr char didExceedMemoryThreshold[] = "org.orvane.utility.didExceedMemoryThreshold";
  static constexpr double defaultInterval = 10.0;
  static constexpr double defaultThreshold = 0.5;

  // A suspended watchdog sampling this process every 10 seconds and posting on the default
  // centre. The first sample comes one interval after construction at the earliest.
  MemoryWatchdog();
  // The same with another period (a non-positive or NaN interval means the default), another
  // memory source and another centre, which must outlive the watchdog.
  MemoryWatchdog(double interval, std::shared_ptr<platform::SystemMemory> memory,
                 platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
  // Stops sampling; waits for a sample under way on another thread, so no notification is
  // posted after this returns.
  ~MemoryWatchdog();
  MemoryWatchdog(const MemoryWatchdog&) = delete;
  MemoryWatchdog& operator=(const MemoryWatchdog&) = delete;

  // Switch sampling on and off. Not counted: two start() calls need one suspend().
  void start();
  void suspend();
  State state() const;

  // The fraction of physical memory above which the notification is posted (strictly above).
  // A change takes effect at the next sample.
  double threshold() const;
  void setThreshold(double threshold);

 private:
  struct Core;

  std::shared_ptr<Core> _core;  // shared with the timer's handler, which holds it weakly
  double _interval;
  std::shared_ptr<DispatchQueue> _queue;
  std::shared_ptr<DispatchSourceTimer> _timer;
  mutable std::mutex _mutex;
  State _state = State::suspended;  // guarded by _mutex
};

}  // namespace vantelkit
