// A memory source whose figures a test sets; counts how often it was read.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#include "vantelkit/platform/SystemMemory.h"

namespace vantelkit::fakes {

class FakeSystemMemory final : public platform::SystemMemory {
 public:
  FakeSystemMemory(std::optional<std::uint64_t> resident, std::optional<std::uint64_t> physical)
      : _resident(resident), _physical(physical) {}

  std::optional<std::uint64_t> residentSize() override {
    _reads.fetch_add(1);
    std::lock_guard lock(_mutex);
    return _resident;
  }
  std::optional<std::uint64_t> physicalMemory() override {
    std::lock_guard lock(_mutex);
    return _physical;
  }

  void set(std::optional<std::uint64_t> resident, std::optional<std::uint64_t> physical) {
    std::lock_guard lock(_mutex);
    _resident = resident;
    _physical = physical;
  }
  // How many samples asked for the resident size.
  int reads() const { return _reads.load(); }

 private:
  std::mutex _mutex;
  std::optional<std::uint64_t> _resident;  // guarded by _mutex
  std::optional<std::uint64_t> _physical;  // guarded by _mutex
  std::atomic<int> _reads{0};
};

}  // namespace vantelkit::fakes
