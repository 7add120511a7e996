#include "vantelkit/scanning/DiskScanResult.h"

#include "vantelkit/platform/FileStatus.h"

namespace vantelkit {

DiskScanResult::DiskScanResult(std::shared_ptr<FileNode> root, double elapsed, std::int64_t filesScanned)
    : _root(std::move(root)), _elapsed(elapsed), _totalFilesScanned(filesScanned) {}

DiskScanResult::DiskScanResult(std::shared_ptr<FileNode> root, double elapsed, std::int64_t filesScanned,
                               Details details)
    : _root(std::move(root)), _elapsed(elapsed), _totalFilesScanned(filesScanned), _details(std::move(details)) {}

std::string DiskScanResult::UnreadableEntry::reason() const {
  return error != 0 ? platform::errorDescription(error) : std::string("could not be read");
}

}  // namespace vantelkit
