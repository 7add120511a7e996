#include "vantelkit/diskmap/SizeProcedure.h"

#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/scanning/FileScanProcedure.h"

namespace vantelkit {

SizeProcedure::SizeProcedure(Key, const FileURL& url) : _url(url) {
  setQualityOfService(QualityOfService::userInitiated);
}

std::shared_ptr<SizeProcedure> SizeProcedure::make(const FileURL& url) {
  auto group = std::make_shared<SizeProcedure>(Key(), url);
  auto sizes = std::make_shared<SizeCollector>();
  auto scan = std::make_shared<FileScanProcedure>(url, std::vector<std::shared_ptr<FileCollector>>{sizes}, true,
                                                  std::nullopt);
  std::weak_ptr<SizeProcedure> weakGroup = group;
  auto block = resultProcessingProcedure(scan, [weakGroup, sizes](const std::shared_ptr<DiskScanResult>& result) {
    auto strong = weakGroup.lock();
    if (!strong) return;
    if (result) {
      strong->_unreadable = result->unreadableEntries();
      strong->_usage = result->totalUsage();
    }
    strong->setSuccess(sizes->totalSize());
    strong->finish();
  });
  group->addChild(scan);
  group->addChild(block);
  return group;
}

}  // namespace vantelkit
