// The total size of a folder as a procedure: the sum of the logical sizes of every regular
// file below it, bundles included, without building a tree (and of their allocated bytes,
// in usage()). A group of a file scan with a
// size collector and the block that reads it. Cancelling cancels its FileScanProcedure, which
// writes "DiskScanner Stop" to standard output when a scan was running.
// Thread safety: as GroupProcedure.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/scanning/DiskScanResult.h"
#include "vantelkit/scanning/FileCollector.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

class SizeProcedure : public GroupProcedure, public OutputProcedure<std::int64_t> {
 public:
  // The procedure with its scan and result block already added.
  static std::shared_ptr<SizeProcedure> make(const FileURL& url);

  // Use make(); public for std::make_shared.
  struct Key {
   private:
    Key() = default;
    friend class SizeProcedure;
  };
  SizeProcedure(Key, const FileURL& url);

  const FileURL& url() const { return _url; }
  // What the scan could not read (sorted by path); the size leaves it out. Read once the
  // procedure has finished.
  const std::vector<DiskScanResult::UnreadableEntry>& unreadable() const { return _unreadable; }
  // The bytes allocated on disk for the same files; read once the procedure has finished.
  std::int64_t usage() const { return _usage; }

 private:
  const FileURL _url;
  std::vector<DiskScanResult::UnreadableEntry> _unreadable;  // set by the result block, before finishing
  std::int64_t _usage = 0;                                   // likewise
};

}  // namespace vantelkit
