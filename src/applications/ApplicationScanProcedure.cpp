#include "vantelkit/applications/ApplicationScanProcedure.h"

#include "applications/internal/ApplicationNodes.h"
#include "vantelkit/scanning/GroupFileScanProcedure.h"
#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {

std::vector<FileURL> ApplicationScanProcedure::defaultAppLocations() {
  return {FileURL::fileURLWithPath(platform::Paths::system("/Applications"), true),
          FileURL::fileURLWithPath(platform::Paths::system("/Developer/Applications"), true)};
}

ApplicationScanProcedure::ApplicationScanProcedure(Key) { setQualityOfService(QualityOfService::userInitiated); }

std::shared_ptr<ApplicationScanProcedure> ApplicationScanProcedure::make() {
  auto procedure = std::make_shared<ApplicationScanProcedure>(Key());
  auto locations = defaultAppLocations();
  auto applications = std::make_shared<ApplicationCollector>();
  auto scan = std::make_shared<GroupFileScanProcedure>(
      locations, std::vector<std::shared_ptr<FileCollector>>{applications}, false, std::nullopt);
  std::weak_ptr<ApplicationScanProcedure> weakProcedure = procedure;
  auto result = resultProcessingProcedure(
      scan, [weakProcedure, applications, locations](const std::shared_ptr<DiskScanResult>&) {
        auto strong = weakProcedure.lock();
        if (!strong) return;
        auto nodes = internal::inLocationOrder(applications->files(), locations);
        std::vector<std::string_view> excluded(protectedApps.begin(), protectedApps.end());
        strong->setSuccess({internal::applicationItems(nodes, excluded), {}});
        strong->finish();
      });
  procedure->addChild(scan);
  procedure->addChild(result);
  return procedure;
}

}  // namespace vantelkit
