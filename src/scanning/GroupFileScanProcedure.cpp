#include "vantelkit/scanning/GroupFileScanProcedure.h"

#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/scanning/FileScanProcedure.h"

namespace vantelkit {

GroupFileScanProcedure::GroupFileScanProcedure(const std::vector<FileURL>& urls,
                                               std::vector<std::shared_ptr<FileCollector>> collecting,
                                               bool searchBundles, std::optional<int> depthLimit) {
  setQualityOfService(QualityOfService::userInitiated);
  setMaxConcurrentOperationCount(1);
  for (const auto& url : urls) {
    auto scan = std::make_shared<FileScanProcedure>(url, collecting, searchBundles, depthLimit);
    scan->setQualityOfService(QualityOfService::userInitiated);
    auto block = resultProcessingProcedure(
        scan, [group = weakReference<GroupFileScanProcedure>()](const std::shared_ptr<DiskScanResult>& result) {
          if (auto strong = group.lock()) strong->appendScanResult(result);
        });
    addChild(scan);
    addChild(block);
  }
  addWillExecuteBlockObserver([](Procedure& procedure) {
    auto& group = static_cast<GroupFileScanProcedure&>(procedure);
    std::lock_guard lock(group._stateMutex);
    group.startDate = std::chrono::steady_clock::now();
  });
  // The group is finishing already here, so the observer only sets the output.
  addWillFinishBlockObserver([](Procedure& procedure, const ErrorPtr&) {
    static_cast<GroupFileScanProcedure&>(procedure).setCombinedOutput();
  });
}

void GroupFileScanProcedure::appendScanResult(std::shared_ptr<DiskScanResult> result) {
  std::lock_guard lock(_stateMutex);
  scanResults.push_back(std::move(result));
}

void GroupFileScanProcedure::setCombinedOutput() {
  double elapsed = 0;
  std::int64_t total = 0;
  {
    std::lock_guard lock(_stateMutex);
    if (startDate) elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - *startDate).count();
    for (const auto& result : scanResults) total += result->totalFilesScanned();
  }
  setSuccess(std::make_shared<DiskScanResult>(nullptr, elapsed, total));
}

}  // namespace vantelkit
