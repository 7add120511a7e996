#include "vantelkit/applications/BundleScanProcedure.h"

#include <algorithm>

#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/scanning/FileCollector.h"
#include "vantelkit/scanning/FileScanProcedure.h"

namespace vantelkit {

BundleScanProcedure::BundleScanProcedure(Key, const FileURL& url) : _url(url) {}

std::shared_ptr<BundleScanProcedure> BundleScanProcedure::make(const FileURL& url) {
  auto procedure = std::make_shared<BundleScanProcedure>(Key(), url);
  auto applications = std::make_shared<ApplicationCollector>();
  auto sizes = std::make_shared<SizeCollector>();
  auto scan = std::make_shared<FileScanProcedure>(
      url, std::vector<std::shared_ptr<FileCollector>>{applications, sizes}, true, std::nullopt);
  scan->setQualityOfService(QualityOfService::userInitiated);
  std::weak_ptr<BundleScanProcedure> weakProcedure = procedure;
  auto result = resultProcessingProcedure(
      scan, [weakProcedure, applications, sizes](const std::shared_ptr<DiskScanResult>& scanned) {
        auto strong = weakProcedure.lock();
        if (!strong) return;
        if (scanned) strong->_unreadable = scanned->unreadableEntries();
        BundleScanResult output;
        output.size = sizes->totalSize();
        // Only the identity of a nested application is kept, so it is read without building
        // a whole item (and its icon); the same bundles are skipped either way.
        // By path, so that the order does not depend on how the traversal threads ran.
        auto nodes = applications->files();
        std::sort(nodes.begin(), nodes.end(),
                  [](const auto& a, const auto& b) { return a->url().path() < b->url().path(); });
        for (const auto& node : nodes) {
          if (auto info = BundleInfo::fromURL(node->url())) output.childApplications.push_back(std::move(*info));
        }
        strong->setSuccess(std::move(output));
        strong->finish();
      });
  procedure->addChild(scan);
  procedure->addChild(result);
  return procedure;
}

}  // namespace vantelkit
