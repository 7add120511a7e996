// Lists the immediate entries of one folder (files and folders alike, nothing below them)
// and makes each a clean scan item. An entry whose name contains an installed application's
// bundle identifier, or failing that its name, becomes a matched item: named with the
// "clean_group_bundle_cache" text for that application ("clean_group_bundle_logs" in a log
// folder) and shown with its icon. Matching is
// plain, case-sensitive containment; every identifier is tried, in list order, before any
// name. A missing or unreadable folder gives an empty list (see unreadable()); the
// procedure never fails.
// Thread safety: as GroupProcedure; read the output once the procedure has finished.
#pragma once

#include <memory>
#include <vector>

#include "vantelkit/applications/ApplicationBundle.h"
#include "vantelkit/clean/CleanScanItem.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/scanning/DiskScanResult.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

class CleanMatchingScanProcedure : public GroupProcedure,
                                   public OutputProcedure<std::vector<std::shared_ptr<CleanScanItem>>> {
 public:
  // What the folder holds, which names its matched items ("Editor Cache", "Editor Logs").
  enum class Contents { caches, logs };

  // Items come in the order the folder was listed.
  CleanMatchingScanProcedure(const FileURL& url, std::vector<std::shared_ptr<ApplicationBundle>> applications,
                             Contents contents = Contents::caches);

  // The item for one entry, matched against applications as described above.
  static std::shared_ptr<CleanScanItem> makeItem(const std::shared_ptr<FileNode>& node,
                                                 const std::vector<std::shared_ptr<ApplicationBundle>>& applications,
                                                 Contents contents = Contents::caches);

  // What the scan could not read (sorted by path); read once the procedure has finished.
  const std::vector<DiskScanResult::UnreadableEntry>& unreadable() const { return _unreadable; }

 private:
  std::vector<DiskScanResult::UnreadableEntry> _unreadable;  // set by the result block, before finishing
};

}  // namespace vantelkit
