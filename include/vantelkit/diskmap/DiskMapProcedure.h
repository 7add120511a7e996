// The disk map of a folder as a procedure: a tree of nodes whose directory sizes are the
// sums of the regular files below them. Cancelling stops the scan; the partial tree is
// still the success output.
// Standard output: cancelling writes the line "DiskScanner Stop" there when a scan was
// running, then "Did Cancel" (through platform::standardOutputMessage, which a host that
// prints its results on standard output can send elsewhere).
// Thread safety: as Procedure; read the tree once the procedure has finished.
#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "vantelkit/scanning/DiskScanner.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/foundation/Procedure.h"

namespace vantelkit {

class DiskMapProcedure : public Procedure, public OutputProcedure<std::shared_ptr<DiskScanResult>> {
 public:
  // depthLimit: directory levels listed, the root being 1; none: unlimited.
  DiskMapProcedure(FileURL url, bool searchBundles, std::optional<int> depthLimit);

  const FileURL& url() const { return _url; }
  bool searchBundles() const { return _searchBundles; }
  std::optional<int> depthLimit() const { return _depthLimit; }
  std::shared_ptr<DiskScanner> scanner() const;

 protected:
  void execute() override;
  void procedureDidCancel(const ErrorPtr& error) override;

 private:
  const FileURL _url;
  const bool _searchBundles;
  const std::optional<int> _depthLimit;
  mutable std::mutex _scannerMutex;
  std::shared_ptr<DiskScanner> _scanner;  // guarded by _scannerMutex
};

}  // namespace vantelkit
