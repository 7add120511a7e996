#include "vantelkit/foundation/MemoryWatchdog.h"

#include <cmath>
#include <limits>

#include "foundation/internal/HandlerGate.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/platform/ByteCountFormatter.h"

namespace vantelkit {
namespace {

std::string memoryText(std::uint64_t bytes) {
  // Byte counts beyond the signed range do not occur in practice; clamp rather than wrap.
  constexpr auto kLargest = std::numeric_limits<std::int64_t>::max();
  auto clamped = bytes > static_cast<std::uint64_t>(kLargest) ? kLargest : static_cast<std::int64_t>(bytes);
  return platform::ByteCountFormatter::string(clamped, platform::ByteCountFormatter::CountStyle::memory);
}

}  // namespace

std::string MemoryWatchdog::MemoryUsage::description() const {
  return memoryText(used) + " used out of " + memoryText(total) + " total";
}

std::optional<MemoryWatchdog::MemoryUsage> MemoryWatchdog::MemoryUsage::read(platform::SystemMemory& memory) {
  auto used = memory.residentSize();
  if (!used) return std::nullopt;
  auto total = memory.physicalMemory();
  if (!total || *total == 0) return std::nullopt;
  return MemoryUsage{*used, *total};
}

std::string MemoryWatchdog::MemoryError::description() const {
  switch (_case) {
    case Case::exceededMemoryThreshold:
      return "exceededMemoryThreshold";
    case Case::failedToRead:
      return "failedToRead";
  }
  return {};
}

std::string MemoryWatchdog::MemoryError::localizedDescription() const {
  switch (_case) {
    case Case::exceededMemoryThreshold:
      return "Exceeded memory threshold: " + (_usage ? _usage->description() : std::string());
    case Case::failedToRead:
      return "Failed to read system memory";
  }
  return {};
}

// What a sample needs; shared with the timer's handler so the watchdog itself may go away.
struct MemoryWatchdog::Core {
  Core(std::shared_ptr<platform::SystemMemory> memory, platform::NotificationCenter& center)
      : memory(std::move(memory)), center(center) {}

  void timerUpdate() {
    auto usage = MemoryUsage::read(*memory);
    if (!usage) {
      LogError(MemoryError::failedToRead(), std::nullopt, LogLocation(__FILE__, "timerUpdate()", __LINE__));
      return;
    }
    double ratio = static_cast<double>(usage->used) / static_cast<double>(usage->total);
    if (ratio > threshold.load(std::memory_order_relaxed)) {
      center.post(didExceedMemoryThreshold, *usage);
    }
  }

  std::atomic<double> threshold{defaultThreshold};
  const std::shared_ptr<platform::SystemMemory> memory;
  platform::NotificationCenter& center;
  internal::HandlerGate gate;
};

MemoryWatchdog::MemoryWatchdog() : MemoryWatchdog(defaultInterval, platform::SystemMemory::system()) {}

MemoryWatchdog::MemoryWatchdog(double interval, std::shared_ptr<platform::SystemMemory> memory,
                               platform::NotificationCenter& center)
    : _core(std::make_shared<Core>(memory ? std::move(memory) : platform::SystemMemory::system(), center)),
      _interval(interval > 0 && std::isfinite(interval) ? interval : defaultInterval) {
  _queue = DispatchQueue::makeSerial("Memory Watchdog", QualityOfService::background,
                                     DispatchQueue::global(QualityOfService::standard));
  _timer = DispatchSourceTimer::make(_queue);
  _timer->schedule(dispatchTimeAfter(_interval), _interval, 0);
  _timer->setEventHandler([weakCore = std::weak_ptr<Core>(_core)] {
    auto core = weakCore.lock();
    if (!core) return;
    internal::HandlerGate::Pass pass(core->gate);
    if (pass) core->timerUpdate();
  });
}

MemoryWatchdog::~MemoryWatchdog() {
  _timer->setEventHandler({});
  _timer->cancel();
  std::lock_guard lock(_mutex);
  if (_state == State::suspended) _timer->resume();
  _core->gate.close();
}

void MemoryWatchdog::start() {
  std::lock_guard lock(_mutex);
  if (_state != State::suspended) return;
  _state = State::running;
  _timer->resume();
}

void MemoryWatchdog::suspend() {
  std::lock_guard lock(_mutex);
  if (_state != State::running) return;
  _state = State::suspended;
  _timer->suspend();
}

MemoryWatchdog::State MemoryWatchdog::state() const {
  std::lock_guard lock(_mutex);
  return _state;
}

double MemoryWatchdog::threshold() const { return _core->threshold.load(std::memory_order_relaxed); }

void MemoryWatchdog::setThreshold(double threshold) { _core->threshold.store(threshold, std::memory_order_relaxed); }

}  // namespace vantelkit
