// Finds the installed applications in the default application folders ("/Applications",
// "/Developer/Applications"), bundles not entered, and outputs them as a set of
// ApplicationItem (one per bundle identifier: the first found, folders in order, wins).
// Bundles named in protectedApps are left out; folders that are no readable application
// bundle are skipped silently. The procedure never fails.
// Thread safety: as GroupProcedure; read the output once the procedure has finished.
#pragma once

#include <array>
#include <memory>
#include <string_view>
#include <vector>

#include "vantelkit/applications/ApplicationItem.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/scanning/FileNode.h"

namespace vantelkit {

// What the application scans deliver: the applications found and, from the scan of the
// user's folders, the other nodes it was asked to keep.
struct ApplicationScanResult {
  ApplicationItemSet applications;
  std::vector<std::shared_ptr<FileNode>> userData;
};

class ApplicationScanProcedure : public GroupProcedure, public OutputProcedure<ApplicationScanResult> {
 public:
  // Bundle folder names that are never listed (whole, case-sensitive names).
  static constexpr std::array<std::string_view, 1> protectedApps{"Safari.app"};
  // "/Applications", then "/Developer/Applications", resolved through the root override.
  static std::vector<FileURL> defaultAppLocations();

  // The procedure with its scan and result step already added.
  static std::shared_ptr<ApplicationScanProcedure> make();

  // Use make(); public for std::make_shared.
  struct Key {
   private:
    Key() = default;
    friend class ApplicationScanProcedure;
  };
  explicit ApplicationScanProcedure(Key);
};

}  // namespace vantelkit
