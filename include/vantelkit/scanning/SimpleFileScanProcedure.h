// A scan of one folder to a given depth with collectors chosen by kind: outputs what each
// collector gathered, keyed by the collector's identifier ("files", "directories", ...).
// A kind that found nothing still has its key, with an empty list; a missing or unreadable
// folder gives empty lists (see unreadable()). The procedure never fails; cancelled before its result block
// ran, the output stays pending.
// Thread safety: as GroupProcedure; read the output once the procedure has finished.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/scanning/DiskScanResult.h"
#include "vantelkit/scanning/FileCollectorOptions.h"
#include "vantelkit/scanning/FileNode.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

using CollectedFiles = std::map<std::string, std::vector<std::shared_ptr<FileNode>>>;

class SimpleFileScanProcedure : public GroupProcedure, public OutputProcedure<CollectedFiles> {
 public:
  // One new collector per entry of collecting, in order (a later entry of the same kind
  // replaces the earlier one's list). depthLimit: directory levels listed, the root being 1;
  // bundles are not descended into.
  SimpleFileScanProcedure(const FileURL& url, const std::vector<FileCollectorOptions>& collecting, int depthLimit);

  // What the scan could not read (sorted by path); read once the procedure has finished.
  const std::vector<DiskScanResult::UnreadableEntry>& unreadable() const { return _unreadable; }

 private:
  std::vector<DiskScanResult::UnreadableEntry> _unreadable;  // set by the result block, before finishing
};

}  // namespace vantelkit
