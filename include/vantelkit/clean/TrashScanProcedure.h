// The trash of a clean scan: the home's ($XDG_DATA_HOME/Trash) and every mounted volume's
// ("$top/.Trash/$uid", where $top/.Trash is a sticky folder and not a link, and
// "$top/.Trash-$uid"), each trashed item read from its information file. Volumes come from the
// mount table through platform::Volumes; the kernel's pseudo file systems, network and
// removable volumes are left out unless the home lies on them, and with a root override only
// volumes below the root count.
// Outputs one container per trash that exists ("Trash" for the home's, "Trash on <mount
// point>" for a volume's, holding what both of its trash folders hold). Containers have no
// file, so that a host acting on one acts on its items, never on a whole folder. Each holds
// one item per entry of a files/ folder: named after
// the original path's last component, with the reason "trashed 12 days ago from
// /home/u/Documents/report.pdf" (or "trashed today from ...", "trashed 1 day ago from ...",
// "trashed from ..., deletion date unknown"), sized in full, folders included. An entry
// without an information file has its own name and the reason "no information file"; one
// whose information file names no path, "information file without a path"; an information
// file without its entry is an item of its own, the size of the information file, with the
// reason "information file without a trashed item". A trashed folder's size comes from the
// trash's directorysizes cache when its time matches the information file's and the scan
// measures allocated bytes (the cache holds the disk space a folder takes); otherwise it is
// measured. Nothing is written; links are never followed; what could not be read is in
// unreadable(). The procedure never fails.
// Thread safety: as GroupProcedure. The measuring phase and the output are set on the main
// queue, which the host must drain; read the output once the procedure has finished.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/clean/CleanScanItem.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/platform/LocalTime.h"
#include "vantelkit/scanning/DiskScanResult.h"

namespace vantelkit {

class TrashScanProcedure : public GroupProcedure, public OutputProcedure<CleanScanItemSet> {
 public:
  struct TrashFolder {
    std::string path;
    // The folder relative original paths start from: the volume's mount point ("/" for the
    // home trash, whose paths are absolute).
    std::string topFolder;
    // "Trash" or "Trash on <mount point>".
    std::string displayName;
    bool operator==(const TrashFolder&) const = default;
  };

  // Finds the trash folders now; measuresUsage: sizes are the bytes allocated on disk instead
  // of logical sizes.
  explicit TrashScanProcedure(bool measuresUsage = false);

  // The trash folders that exist now, the home's first, then the volumes' in mount order.
  static std::vector<TrashFolder> trashFolders();
  // Those this procedure scans.
  const std::vector<TrashFolder>& folders() const { return _folders; }

  // The reason of a trashed item deleted at deleted (none: unknown), seen from now.
  static std::string trashedReason(const std::optional<platform::LocalDateTime>& deleted,
                                   const platform::LocalDateTime& now, std::string_view originalPath);

  bool measuresUsage() const { return _measuresUsage; }

  // What the walks, the information files and the measuring could not read, in the order met;
  // complete once the procedure has finished.
  using Unreadable = std::vector<DiskScanResult::UnreadableEntry>;
  Unreadable unreadable() const;

 private:
  void addUnreadable(const Unreadable& entries);

  const bool _measuresUsage;
  std::vector<TrashFolder> _folders;
  mutable std::mutex _mutex;
  Unreadable _unreadable;  // guarded by _mutex
};

}  // namespace vantelkit
