// One unit of a disk-map scan: the traversal of ScanOperation, writing into the scanner's
// compact DiskMap instead of making FileNodes.
// Thread safety: made and queued by a DiskScanner; runs once on one queue thread.
#pragma once

#include <cstddef>
#include <memory>

#include "vantelkit/scanning/DiskMap.h"
#include "vantelkit/foundation/Operation.h"

namespace vantelkit {

namespace internal {

class DiskScanRun;

class MapScanOperation final : public Operation {
 public:
  // depth is the number of path components of the folder's path.
  MapScanOperation(std::shared_ptr<DiskScanRun> run, DiskMap::Index folder, std::size_t depth);
  void main() override;

 protected:
  void operationDidFinish() override;

 private:
  std::shared_ptr<DiskScanRun> _run;
  DiskMap::Index _folder;
  std::size_t _depth;
  bool _started = false;  // main() ran (written and read on the operation's own thread)
};

}  // namespace internal
}  // namespace vantelkit
