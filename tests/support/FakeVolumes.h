// Volumes and file-system capacities a test sets: a mount table of its own for the scans that
// look at every mounted volume, and file-system sizes for caps that are a share of one.
// Thread safety: set the fields before installing the fakes; then read-only.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/platform/FileSystemCapacity.h"
#include "vantelkit/platform/Volumes.h"

namespace vantel::testing {

class FakeVolumes final : public vantelkit::platform::Volumes {
 public:
  std::vector<vantelkit::platform::MountedVolume> volumes;

  std::optional<vantelkit::platform::MountedVolume> volumeOfFolder(std::string_view) override { return std::nullopt; }
  std::vector<vantelkit::platform::LoopDevice> attachedLoopDevices() override { return {}; }
  std::optional<std::string> diskImageToolInformation() override { return std::nullopt; }
  std::vector<vantelkit::platform::MountedVolume> mountedVolumes() override { return volumes; }
};

// Every path lies on one file system of the given capacity (none: cannot be examined).
class FakeFileSystemCapacity final : public vantelkit::platform::FileSystemCapacity {
 public:
  explicit FakeFileSystemCapacity(std::optional<Capacity> capacity) : capacity(capacity) {}
  std::optional<Capacity> capacityOf(std::string_view) override { return capacity; }
  std::optional<Capacity> capacity;
};

}  // namespace vantel::testing
