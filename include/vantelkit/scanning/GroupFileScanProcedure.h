// Scans several folders strictly one after the other, in the order given, into one shared
// list of collectors, and outputs a single combined DiskScanResult: no root, the seconds
// from the group's start to its finish, and the nodes scanned by all folder scans together.
// The collectors belong to the caller, who reads them once the procedure has finished; a
// node under two of the folders is collected twice. A missing or unreadable folder adds
// nothing. The output is set whenever the group finishes, cancelled or not (a group that
// never executed reports 0 seconds); the procedure never fails.
// Thread safety: as GroupProcedure; read the output and the collectors once it has finished.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "vantelkit/scanning/DiskScanResult.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/scanning/FileCollector.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

class GroupFileScanProcedure : public GroupProcedure, public OutputProcedure<std::shared_ptr<DiskScanResult>> {
 public:
  // depthLimit: directory levels listed below each folder, the folder being 1; none:
  // unlimited.
  GroupFileScanProcedure(const std::vector<FileURL>& urls, std::vector<std::shared_ptr<FileCollector>> collecting,
                         bool searchBundles, std::optional<int> depthLimit);

 private:
  void appendScanResult(std::shared_ptr<DiskScanResult> result);
  void setCombinedOutput();

  std::mutex _stateMutex;
  // Guarded by _stateMutex:
  std::vector<std::shared_ptr<DiskScanResult>> scanResults;  // in finishing order
  std::optional<std::chrono::steady_clock::time_point> startDate;
};

}  // namespace vantelkit
