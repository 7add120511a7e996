#include "vantelkit/platform/FileSystemCapacity.h"

#include <sys/statvfs.h>

#include <mutex>
#include <string>

namespace vantelkit::platform {

namespace {

class StatvfsCapacity final : public FileSystemCapacity {
 public:
  std::optional<Capacity> capacityOf(std::string_view path) override {
    struct statvfs status {};
    if (statvfs(std::string(path).c_str(), &status) != 0) return std::nullopt;
    const std::uint64_t unit = status.f_frsize != 0 ? status.f_frsize : status.f_bsize;
    return Capacity{static_cast<std::uint64_t>(status.f_blocks) * unit,
                    static_cast<std::uint64_t>(status.f_bavail) * unit};
  }
};

std::mutex installedMutex;
std::shared_ptr<FileSystemCapacity> installed;  // guarded by installedMutex

}  // namespace

FileSystemCapacity& FileSystemCapacity::shared() {
  static StatvfsCapacity system;
  std::lock_guard lock(installedMutex);
  return installed ? *installed : static_cast<FileSystemCapacity&>(system);
}

void FileSystemCapacity::setShared(std::shared_ptr<FileSystemCapacity> capacity) {
  std::lock_guard lock(installedMutex);
  installed = std::move(capacity);
}

}  // namespace vantelkit::platform
