// Gathers every support-file candidate once: twenty fixed library folders of the system and
// of the user, each scanned shallowly (one or two levels, bundles not entered) and
// concurrently into its own list of one ApplicationSupportFiles. A missing or unreadable
// folder leaves its list empty; the procedure never fails. Cancelled, it leaves its output
// pending.
// Thread safety: as GroupProcedure; read the output once the procedure has finished.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vantelkit/applications/ApplicationSupportFiles.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/scanning/DiskScanResult.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

class SupportFilesScanProcedure : public GroupProcedure,
                                  public OutputProcedure<std::shared_ptr<ApplicationSupportFiles>> {
 public:
  struct Location {
    ApplicationSupportFiles::Nodes ApplicationSupportFiles::*field;
    FileURL url;
    // Directory levels listed, the folder itself being 1.
    int depthLimit;
  };
  // The twenty folders in scanning order, resolved now through the root and home overrides.
  static std::vector<Location> locations();

  // The procedure with its scans and result block already added.
  static std::shared_ptr<SupportFilesScanProcedure> make();

  // Use make(); public for std::make_shared.
  struct Key {
   private:
    Key() = default;
    friend class SupportFilesScanProcedure;
  };
  explicit SupportFilesScanProcedure(Key);

  // The object being filled; the output holds this same object.
  const std::shared_ptr<ApplicationSupportFiles>& supportFiles() const { return _supportFiles; }
  // What the folder scans could not read, sorted by path; complete once the procedure has
  // finished.
  std::vector<DiskScanResult::UnreadableEntry> unreadable() const;

 private:
  const std::shared_ptr<ApplicationSupportFiles> _supportFiles;
  mutable std::mutex _unreadableMutex;
  std::vector<DiskScanResult::UnreadableEntry> _unreadable;  // guarded by _unreadableMutex
};

}  // namespace vantelkit
