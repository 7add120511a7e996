// The size of the file system that holds a path (what statvfs tells), for caps that are a
// share of it, such as the journal's default. The shared instance asks the running system;
// tests install a fake.
// Thread safety: capacityOf() is safe from any thread; replace the shared instance before
// concurrent use.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace vantelkit::platform {

class FileSystemCapacity {
 public:
  struct Capacity {
    std::uint64_t totalBytes = 0;
    std::uint64_t availableBytes = 0;  // to an unprivileged user
    bool operator==(const Capacity&) const = default;
  };

  virtual ~FileSystemCapacity() = default;
  // None when path cannot be examined.
  virtual std::optional<Capacity> capacityOf(std::string_view path) = 0;

  static FileSystemCapacity& shared();
  // Null restores the running system's.
  static void setShared(std::shared_ptr<FileSystemCapacity> capacity);
};

}  // namespace vantelkit::platform
