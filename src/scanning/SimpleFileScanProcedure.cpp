#include "vantelkit/scanning/SimpleFileScanProcedure.h"

#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/scanning/FileScanProcedure.h"

namespace vantelkit {

SimpleFileScanProcedure::SimpleFileScanProcedure(const FileURL& url,
                                                 const std::vector<FileCollectorOptions>& collecting,
                                                 int depthLimit) {
  std::vector<std::shared_ptr<FileCollector>> collectors;
  collectors.reserve(collecting.size());
  for (auto option : collecting) collectors.push_back(makeCollector(option));

  auto scan = std::make_shared<FileScanProcedure>(url, collectors, false, depthLimit);
  scan->setQualityOfService(QualityOfService::userInitiated);
  auto block = resultProcessingProcedure(
      scan, [group = weakReference<SimpleFileScanProcedure>(), collectors](const std::shared_ptr<DiskScanResult>& result) {
        auto strong = group.lock();
        if (!strong) return;
        CollectedFiles files;
        for (const auto& collector : collectors) files[collector->identifier()] = collector->files();
        if (result) strong->_unreadable = result->unreadableEntries();
        strong->setSuccess(std::move(files));
        strong->finish();
      });
  addChild(scan);
  addChild(block);
}

}  // namespace vantelkit
