// The memory figures of this process and machine: the resident size of the process and the
// machine's physical memory. Thread safety: implementations are safe to call from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace vantelkit::platform {

class SystemMemory {
 public:
  virtual ~SystemMemory() = default;

  // Bytes of this process resident in physical memory now, or none when it cannot be read.
  virtual std::optional<std::uint64_t> residentSize() = 0;
  // Bytes of physical memory installed in the machine, or none when it cannot be read.
  virtual std::optional<std::uint64_t> physicalMemory() = 0;

  // The running system's implementation, shared by the whole process.
  static std::shared_ptr<SystemMemory> system();
};

}  // namespace vantelkit::platform
