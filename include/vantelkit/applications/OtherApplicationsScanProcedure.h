// Finds the applications that users keep in their own folders: the home's Downloads,
// Desktop, Documents and Applications, five levels deep, bundles not entered. Outputs a set
// of ApplicationItem (one per bundle identifier, the first found winning, folders in order)
// and an empty userData list (the scan keeps no other nodes). The procedure never fails.
// Thread safety: as GroupProcedure; read the output once the procedure has finished.
#pragma once

#include <memory>
#include <vector>

#include "vantelkit/applications/ApplicationScanProcedure.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

class OtherApplicationsScanProcedure : public GroupProcedure, public OutputProcedure<ApplicationScanResult> {
 public:
  // Directory levels listed below each folder, the folder itself being 1.
  static constexpr int depthLimit = 5;

  // The procedure with its scan and result step already added; the home folder is read now.
  static std::shared_ptr<OtherApplicationsScanProcedure> make();

  // home + "Downloads", "Desktop", "Documents", "Applications", in this order.
  const std::vector<FileURL>& userAppLocations() const { return _userAppLocations; }

  // Use make(); public for std::make_shared.
  struct Key {
   private:
    Key() = default;
    friend class OtherApplicationsScanProcedure;
  };
  explicit OtherApplicationsScanProcedure(Key);

 private:
  const std::vector<FileURL> _userAppLocations;
};

}  // namespace vantelkit
