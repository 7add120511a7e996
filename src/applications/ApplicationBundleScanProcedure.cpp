#include "vantelkit/applications/ApplicationBundleScanProcedure.h"

#include "vantelkit/applications/FileIcon.h"
#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/scanning/FileScanProcedure.h"

namespace vantelkit {

namespace {
constexpr int kApplicationIconPointSize = 128;
}

ApplicationBundleScanProcedure::ApplicationBundleScanProcedure(Key) {}

std::shared_ptr<ApplicationBundleScanProcedure> ApplicationBundleScanProcedure::make() {
  auto group = std::make_shared<ApplicationBundleScanProcedure>(Key());
  auto applications = std::make_shared<ApplicationCollector>();
  auto scan = std::make_shared<FileScanProcedure>(
      FileURL::fileURLWithPath(platform::Paths::system("/Applications"), true),
      std::vector<std::shared_ptr<FileCollector>>{applications}, false, std::nullopt);
  scan->setQualityOfService(QualityOfService::userInitiated);
  std::weak_ptr<ApplicationBundleScanProcedure> weakGroup = group;
  auto result = resultProcessingProcedure(scan, [weakGroup, applications](const std::shared_ptr<DiskScanResult>&) {
    auto strong = weakGroup.lock();
    if (!strong) return;
    std::vector<std::shared_ptr<ApplicationBundle>> bundles;
    for (const auto& node : applications->files()) {
      auto info = BundleInfo::fromURL(node->url());
      if (!info) continue;
      bundles.push_back(ApplicationBundle::make(node->url(), std::move(*info), fileIcon(node->url(), kApplicationIconPointSize)));
    }
    strong->setSuccess(std::move(bundles));
    strong->finish();
  });
  group->addChild(scan);
  group->addChild(result);
  return group;
}

}  // namespace vantelkit
