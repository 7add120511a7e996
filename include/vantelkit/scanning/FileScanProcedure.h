// One file scan of a folder as a procedure: runs a DiskScanner over the folder, offering
// every node to the caller's collectors, and outputs the scan's DiskScanResult (no tree:
// the root has no children). Cancelling stops the scan; the partial result is still the
// success output. The procedure never fails.
// Standard output: cancelling a running scan writes the line "DiskScanner Stop" there (and
// logs "Procedure Did Cancel" as a warning), through platform::standardOutputMessage, which
// a host that prints its results on standard output can send elsewhere.
// Thread safety: as Procedure. The collectors are filled on the scan's threads; read them
// once the procedure has finished.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "vantelkit/scanning/DiskScanner.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/foundation/Procedure.h"
#include "vantelkit/scanning/FileCollector.h"

namespace vantelkit {

class FileScanProcedure : public Procedure, public OutputProcedure<std::shared_ptr<DiskScanResult>> {
 public:
  // depthLimit: directory levels listed, the root being 1 (0 acts as 1); none: unlimited.
  FileScanProcedure(FileURL url, std::vector<std::shared_ptr<FileCollector>> collecting, bool searchBundles,
                    std::optional<int> depthLimit);

  const FileURL& url() const { return _url; }
  const std::vector<std::shared_ptr<FileCollector>>& collectors() const { return _collectors; }
  bool searchBundles() const { return _searchBundles; }
  std::optional<int> depthLimit() const { return _depthLimit; }
  // The scanner of the run in progress, or null.
  std::shared_ptr<DiskScanner> scanner() const;

 protected:
  void execute() override;
  void procedureDidCancel(const ErrorPtr& error) override;

 private:
  const FileURL _url;
  const std::vector<std::shared_ptr<FileCollector>> _collectors;
  const bool _searchBundles;
  const std::optional<int> _depthLimit;
  mutable std::mutex _scannerMutex;
  std::shared_ptr<DiskScanner> _scanner;  // guarded by _scannerMutex
};

}  // namespace vantelkit
