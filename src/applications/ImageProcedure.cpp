#include "vantelkit/applications/ImageProcedure.h"

#include "vantelkit/applications/FileIcon.h"
#include "vantelkit/formats/ApplicationIcon.h"
#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/scanning/FileScanProcedure.h"

namespace vantelkit {

IconImageProcedure::IconImageProcedure(FileURL url) : _url(std::move(url)) {
  auto group = weakReference<IconImageProcedure>();
  auto block = std::make_shared<BlockProcedure>([group](BlockProcedure& self) {
    auto strong = group.lock();
    if (!strong || strong->isCancelled()) {
      self.finish();
      return;
    }
    auto block = self.sharedAs<BlockProcedure>();
    ProcedureQueue::defaultDispatchQueue()->async([group, block] {
      if (auto strong = group.lock()) {
        strong->setSuccess(iconWithSizes(iconForFile(strong->url().path())));
      }
      block->finish();
    });
  });
  addChild(block);
}

ApplicationIconsScanProcedure::ApplicationIconsScanProcedure() {
  setQualityOfService(QualityOfService::userInitiated);
  auto applications = std::make_shared<ApplicationCollector>();
  auto systemApplications = std::make_shared<ApplicationCollector>();
  auto applicationsScan = std::make_shared<FileScanProcedure>(
      FileURL::fileURLWithPath(platform::Paths::system("/Applications"), true),
      std::vector<std::shared_ptr<FileCollector>>{applications}, false, 2);
  auto systemApplicationsScan = std::make_shared<FileScanProcedure>(
      FileURL::fileURLWithPath(platform::Paths::system("/System/Applications"), true),
      std::vector<std::shared_ptr<FileCollector>>{systemApplications}, false, 1);
  applicationsScan->setQualityOfService(QualityOfService::userInitiated);
  systemApplicationsScan->setQualityOfService(QualityOfService::userInitiated);

  auto group = weakReference<ApplicationIconsScanProcedure>();
  auto block = std::make_shared<BlockProcedure>([group, applications, systemApplications](BlockProcedure& self) {
    auto strong = group.lock();
    if (!strong) {
      self.finish();
      return;
    }
    auto nodes = applications->files();
    if (nodes.size() < wallSize) {
      auto more = systemApplications->files();
      const std::size_t wanted = std::min(wallSize - nodes.size(), more.size());
      nodes.insert(nodes.end(), more.begin(), more.begin() + static_cast<std::ptrdiff_t>(wanted));
    }
    std::vector<platform::Image> icons;
    icons.reserve(nodes.size());
    for (const auto& node : nodes) {
      icons.push_back(iconWithSizes(fileIcon(node->url(), iconPointSize), {iconPointSize}));
    }
    strong->setSuccess(std::move(icons));
    self.finish();
    strong->finish();
  });
  block->setQualityOfService(QualityOfService::userInitiated);
  block->addDependency(applicationsScan);
  block->addDependency(systemApplicationsScan);
  addChildren(std::vector<std::shared_ptr<Operation>>{applicationsScan, systemApplicationsScan, block});
}

}  // namespace vantelkit
