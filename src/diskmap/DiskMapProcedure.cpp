#include "vantelkit/diskmap/DiskMapProcedure.h"

#include "vantelkit/platform/PlatformLog.h"

namespace vantelkit {

DiskMapProcedure::DiskMapProcedure(FileURL url, bool searchBundles, std::optional<int> depthLimit)
    : _url(std::move(url)), _searchBundles(searchBundles), _depthLimit(depthLimit) {
  setQualityOfService(QualityOfService::userInitiated);
}

std::shared_ptr<DiskScanner> DiskMapProcedure::scanner() const {
  std::lock_guard lock(_scannerMutex);
  return _scanner;
}

void DiskMapProcedure::execute() {
  auto scanner = DiskScanner::make();
  {
    std::lock_guard lock(_scannerMutex);
    _scanner = scanner;
  }
  if (isCancelled()) scanner->cancel();
  std::weak_ptr<DiskMapProcedure> weak = sharedAs<DiskMapProcedure>();
  DiskScanner::ScanRequest request{.buildTree = true, .searchBundles = _searchBundles, .depthLimit = _depthLimit};
  scanner->scan(_url, std::move(request), [weak](const std::shared_ptr<DiskScanResult>& result) {
    auto self = weak.lock();
    if (!self) return;
    self->setSuccess(result);
    self->finish();
  });
}

void DiskMapProcedure::procedureDidCancel(const ErrorPtr&) {
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
  platform::standardOutputMessage("Did Cancel");
}

}  // namespace vantelkit
