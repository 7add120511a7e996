// The developer files of a clean scan: the device support folders of each device platform,
// the archived builds and the simulator devices below the user's developer tool folders.
// Outputs up to five container items: one per platform whose device support folder exists
// ("iOS Device Support", with an item per version folder), "Archives" (an item per archive,
// named from its Info.plist) and "Simulators" (an item per device, named from its
// device.plist); the last two even when their folder is missing. Before the output is set,
// a size phase measures every child and gives each container the sum of its children, or
// the size of its whole folder when it has none. What the scans and the size phase could
// not read is in unreadable(). The procedure never fails.
// Thread safety: as GroupProcedure. The size phase and the output are set on the main
// queue, which the host must drain; read the output once the procedure has finished.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/clean/CleanScanItem.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/scanning/DiskScanResult.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

enum class DeviceSupportKind { iOS, tvOS, watchOS };

inline constexpr std::array<DeviceSupportKind, 3> allDeviceSupportKinds{
    DeviceSupportKind::iOS, DeviceSupportKind::tvOS, DeviceSupportKind::watchOS};
// "iOS", "tvOS", "watchOS".
std::string_view displayText(DeviceSupportKind kind);

class DeveloperCleanScanProcedure : public GroupProcedure, public OutputProcedure<CleanScanItemSet> {
 public:
  // Builds every child at once; the folders are those of the home folder now. measuresUsage:
  // sizes are the bytes allocated on disk instead of logical sizes.
  explicit DeveloperCleanScanProcedure(bool measuresUsage = false);

  // The device support folder of kind: home + "/Library/Developer/Xcode/iOS DeviceSupport".
  static FileURL deviceSupportFolder(DeviceSupportKind kind);
  // home + "/Library/Developer/Xcode/Archives".
  static FileURL archivesFolder();
  // home + "/Library/Developer/CoreSimulator/Devices".
  static FileURL simulatorDevicesFolder();

  // "Name ShortVersion (BundleVersion)" from the archive's Info.plist; none when the file
  // cannot be read or a value is missing or not a text.
  static std::optional<std::string> archiveDisplayName(const FileURL& archive);
  // "name · Platform Major.Minor" from the device's device.plist; none when the file cannot
  // be read or a value is missing.
  static std::optional<std::string> simulatorDisplayName(const FileURL& device);
  // The text above from a device name and its runtime identifier
  // ("com.apple.CoreSimulator.SimRuntime.iOS-17-2" gives "iOS 17.2").
  static std::string simulatorDisplayName(std::string_view name, std::string_view runtime);

  // Per-kind store of device support items; the scan leaves it empty.
  std::map<DeviceSupportKind, std::vector<std::shared_ptr<CleanScanItem>>> deviceSupportItems() const;

  // What the folder scans and the size phase could not read, in the order met (a path may
  // come twice: once listed, once measured); complete once the procedure has finished.
  using Unreadable = std::vector<DiskScanResult::UnreadableEntry>;
  Unreadable unreadable() const;

 private:
  void addUnreadable(const Unreadable& entries);
  std::shared_ptr<GroupProcedure> makeDeviceSupportProcedure(DeviceSupportKind kind);
  void insertTopLevelItem(std::shared_ptr<CleanScanItem> item);
  CleanScanItemSet topLevelItemsNow() const;
  // Adds the size phase and the block that sets the output; on the main queue.
  void addSizePhase();

  mutable std::mutex _itemsMutex;
  // Guarded by _itemsMutex:
  std::map<DeviceSupportKind, std::vector<std::shared_ptr<CleanScanItem>>> _deviceSupportItems;
  CleanScanItemSet topLevelItems;
  Unreadable _unreadable;
  const bool _measuresUsage;
};

}  // namespace vantelkit
