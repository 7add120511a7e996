// Measures one application bundle and finds the applications nested in it: walks the whole
// bundle (bundles entered) and outputs the total logical size of its regular files and the
// identities of the ".app" bundles below it, by path (the bundle itself
// is not among them). Nested folders that are no readable application bundle are skipped.
// What the walk could not read is left out of the size and listed in unreadable(). The
// procedure never fails.
// Thread safety: as GroupProcedure; read the output once the procedure has finished.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vantelkit/applications/BundleInfo.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/scanning/DiskScanResult.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

struct BundleScanResult {
  std::int64_t size = 0;
  std::vector<BundleInfo> childApplications;
  bool operator==(const BundleScanResult&) const = default;
};

class BundleScanProcedure : public GroupProcedure, public OutputProcedure<BundleScanResult> {
 public:
  // The procedure for the bundle at url, with its scan and result step already added.
  static std::shared_ptr<BundleScanProcedure> make(const FileURL& url);

  const FileURL& url() const { return _url; }
  // What the walk could not read (sorted by path); read once the procedure has finished.
  const std::vector<DiskScanResult::UnreadableEntry>& unreadable() const { return _unreadable; }

  // Use make(); public for std::make_shared.
  struct Key {
   private:
    Key() = default;
    friend class BundleScanProcedure;
  };
  BundleScanProcedure(Key, const FileURL& url);

 private:
  const FileURL _url;
  std::vector<DiskScanResult::UnreadableEntry> _unreadable;  // set by the result step, before finishing
};

}  // namespace vantelkit
