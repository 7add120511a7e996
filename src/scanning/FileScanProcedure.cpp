#include "vantelkit/scanning/FileScanProcedure.h"

#include "vantelkit/foundation/Logging.h"
#include "vantelkit/platform/PlatformLog.h"

namespace vantelkit {

FileScanProcedure::FileScanProcedure(FileURL url, std::vector<std::shared_ptr<FileCollector>> collecting,
                                     bool searchBundles, std::optional<int> depthLimit)
    : _url(std::move(url)),
      _collectors(std::move(collecting)),
      _searchBundles(searchBundles),
      _depthLimit(depthLimit) {
  setQualityOfService(QualityOfService::userInitiated);
}

std::shared_ptr<DiskScanner> FileScanProcedure::scanner() const {
  std::lock_guard lock(_scannerMutex);
  return _scanner;
}

void FileScanProcedure::execute() {
  auto scanner = DiskScanner::make();
  {
    std::lock_guard lock(_scannerMutex);
    _scanner = scanner;
  }
  // A cancellation that came before the scanner was stored found none to stop.
  if (isCancelled()) scanner->cancel();
  auto result = scanner->scan(
      _url, {.collectors = _collectors, .searchBundles = _searchBundles, .depthLimit = _depthLimit});
  setSuccess(result);
  finish();
}

void FileScanProcedure::procedureDidCancel(const ErrorPtr&) {
  std::shared_ptr<DiskScanner> scanner;
  {
    std::lock_guard lock(_scannerMutex);
    scanner = std::move(_scanner);
    _scanner = nullptr;
  }
  if (scanner) {
    scanner->cancel();
    platform::standardOutputMessage("DiskScanner Stop");
  }
  LogWarning("Procedure Did Cancel");
}

}  // namespace vantelkit
