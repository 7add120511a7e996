#include "vantelkit/applications/OtherApplicationsScanProcedure.h"

#include "applications/internal/ApplicationNodes.h"
#include "vantelkit/scanning/GroupFileScanProcedure.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {

namespace {

std::vector<FileURL> userFolders() {
  std::vector<FileURL> folders;
  for (const char* name : {"Downloads", "Desktop", "Documents", "Applications"}) {
    folders.push_back(FileURL::fileURLWithPath(platform::Paths::inHome(name), true));
  }
  return folders;
}

}  // namespace

OtherApplicationsScanProcedure::OtherApplicationsScanProcedure(Key) : _userAppLocations(userFolders()) {
  setQualityOfService(QualityOfService::userInitiated);
}

std::shared_ptr<OtherApplicationsScanProcedure> OtherApplicationsScanProcedure::make() {
  auto procedure = std::make_shared<OtherApplicationsScanProcedure>(Key());
  const auto& locations = procedure->userAppLocations();
  auto applications = std::make_shared<ApplicationCollector>();
  // Kept apart from the scan: handing it every node of Documents and Downloads would hold
  // them all in memory for nothing, so userData stays empty.
  auto everything = std::make_shared<FileCollector>();
  auto scan = std::make_shared<GroupFileScanProcedure>(
      locations, std::vector<std::shared_ptr<FileCollector>>{applications}, false, depthLimit);
  std::weak_ptr<OtherApplicationsScanProcedure> weakProcedure = procedure;
  auto result = resultProcessingProcedure(
      scan, [weakProcedure, applications, everything, locations](const std::shared_ptr<DiskScanResult>&) {
        auto strong = weakProcedure.lock();
        if (!strong) return;
        // A log line, not a print: standard output belongs to the host (a tool's JSON).
        LogDebug("Initiated Other Apps Result Processor");
        auto nodes = internal::inLocationOrder(applications->files(), locations);
        strong->setSuccess({internal::applicationItems(nodes, {}), everything->files()});
        strong->finish();
      });
  procedure->addChild(scan);
  procedure->addChild(result);
  return procedure;
}

}  // namespace vantelkit
