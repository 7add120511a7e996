#include "vantelkit/clean/CleanMatchingScanProcedure.h"

#include "vantelkit/foundation/LocalizedStrings.h"
#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/scanning/FileScanProcedure.h"

namespace vantelkit {

namespace {

// An empty identifier or name would be contained in every entry name and claim them all,
// so it matches nothing.
bool contains(const std::string& entryName, const std::string& part) {
  return !part.empty() && entryName.find(part) != std::string::npos;
}

std::shared_ptr<ApplicationBundle> matchingApplication(
    const std::string& entryName, const std::vector<std::shared_ptr<ApplicationBundle>>& applications) {
  for (const auto& application : applications)
    if (application && contains(entryName, application->bundleInfo.identifier)) return application;
  for (const auto& application : applications)
    if (application && contains(entryName, application->bundleInfo.name)) return application;
  return nullptr;
}

}  // namespace

std::shared_ptr<CleanScanItem> CleanMatchingScanProcedure::makeItem(
    const std::shared_ptr<FileNode>& node, const std::vector<std::shared_ptr<ApplicationBundle>>& applications,
    Contents contents) {
  auto application = applications.empty() ? nullptr : matchingApplication(node->name(), applications);
  if (!application) return CleanScanItem::make(node);
  const char* key = contents == Contents::logs ? "clean_group_bundle_logs" : "clean_group_bundle_cache";
  return CleanScanItem::make(node, {}, localizedFormat(key, {application->bundleInfo.name}), application->icon);
}

CleanMatchingScanProcedure::CleanMatchingScanProcedure(const FileURL& url,
                                                       std::vector<std::shared_ptr<ApplicationBundle>> applications,
                                                       Contents contents) {
  auto collector = std::make_shared<FileCollector>();
  auto scan = std::make_shared<FileScanProcedure>(url, std::vector<std::shared_ptr<FileCollector>>{collector}, false, 1);
  scan->setQualityOfService(QualityOfService::userInitiated);
  auto block = resultProcessingProcedure(
      scan, [group = weakReference<CleanMatchingScanProcedure>(), collector, applications = std::move(applications),
             contents](const std::shared_ptr<DiskScanResult>& result) {
        auto strong = group.lock();
        if (!strong) return;
        std::vector<std::shared_ptr<CleanScanItem>> items;
        for (const auto& node : collector->files()) items.push_back(makeItem(node, applications, contents));
        if (result) strong->_unreadable = result->unreadableEntries();
        strong->setSuccess(std::move(items));
        strong->finish();
      });
  addChild(scan);
  addChild(block);
}

}  // namespace vantelkit
