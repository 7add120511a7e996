#include "vantelkit/applications/ApplicationScanner.h"

#include <algorithm>

#include "vantelkit/applications/ApplicationScanProcedure.h"
#include "vantelkit/applications/BundleScanProcedure.h"
#include "vantelkit/applications/OtherApplicationsScanProcedure.h"
#include "vantelkit/applications/SimpleMatchSupportingFilesProcedure.h"
#include "vantelkit/applications/SupportFilesScanProcedure.h"
#include "vantelkit/scanning/ScanPhrases.h"
#include "vantelkit/diskmap/SizeProcedure.h"
#include "vantelkit/foundation/AsyncProcedure.h"
#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/platform/DispatchQueue.h"

namespace vantelkit {

namespace {

std::mutex sharedMutex;
std::shared_ptr<ApplicationScanner> sharedScanner;  // guarded by sharedMutex

using Resource = ApplicationResourceGroup::Resource;

// Children of a stage's group that run at once. Every bundle scan and size measurement
// blocks a pool thread while its traversal runs on others, so hundreds of them at once
// would exhaust the pool (and stall, with every thread waiting); a few at a time keep the
// disk as busy as it gets.
constexpr int kStageConcurrency = 4;

}  // namespace

void ApplicationScanner::addSizing(GroupProcedure& group, const std::shared_ptr<Resource>& resource) {
  auto size = SizeProcedure::make(resource->url);
  std::weak_ptr<SizeProcedure> weakSize = size;
  auto store = resultProcessingProcedure(size, [resource, weakSize, weakSelf = weak_from_this()](std::int64_t bytes) {
    resource->size = bytes;
    auto self = weakSelf.lock();
    auto measured = weakSize.lock();
    if (self && measured) self->addUnreadable(measured->unreadable());
  });
  group.addChild(size);
  group.addChild(store);
}

ApplicationScanner::Unreadable ApplicationScanner::unreadable() const {
  std::lock_guard lock(_mutex);
  return _unreadable;
}

void ApplicationScanner::addUnreadable(const Unreadable& entries) {
  std::lock_guard lock(_mutex);
  for (const auto& entry : entries) {
    // A fixed folder that is a file here holds nothing to find; that is no fault.
    if (platform::errorCodeFromNumber(entry.error) == std::errc::not_a_directory) continue;
    auto at = std::lower_bound(_unreadable.begin(), _unreadable.end(), entry,
                               [](const auto& a, const auto& b) { return a.path < b.path; });
    if (at != _unreadable.end() && at->path == entry.path) continue;
    _unreadable.insert(at, entry);
  }
}

ApplicationScanner::ApplicationScanner(Key) : _supportFiles(std::make_shared<ApplicationSupportFiles>()) {
  _queue.setMaxConcurrentOperationCount(1);
  _queue.setQualityOfService(QualityOfService::userInitiated);
}

std::shared_ptr<ApplicationScanner> ApplicationScanner::make() { return std::make_shared<ApplicationScanner>(Key()); }

std::shared_ptr<ApplicationScanner> ApplicationScanner::shared() {
  std::lock_guard lock(sharedMutex);
  if (!sharedScanner) sharedScanner = make();
  return sharedScanner;
}

void ApplicationScanner::setShared(std::shared_ptr<ApplicationScanner> scanner) {
  std::lock_guard lock(sharedMutex);
  sharedScanner = std::move(scanner);
}

ApplicationItemSet ApplicationScanner::applications() const {
  std::lock_guard lock(_mutex);
  return _applications;
}

void ApplicationScanner::setApplications(ApplicationItemSet applications) {
  std::lock_guard lock(_mutex);
  _applications = std::move(applications);
}

std::vector<std::shared_ptr<ApplicationItem>> ApplicationScanner::applicationList() const {
  std::lock_guard lock(_mutex);
  return {_applications.begin(), _applications.end()};
}

void ApplicationScanner::cleanup() {
  std::lock_guard lock(_mutex);
  _applications.clear();
  _supportFiles = std::make_shared<ApplicationSupportFiles>();
}

void ApplicationScanner::cancel() {
  std::vector<std::weak_ptr<Procedure>> producers;
  {
    std::lock_guard lock(_mutex);
    if (!_isRunning.load() || _cancelled) return;
    _cancelled = true;
    producers.swap(_producers);
  }
  // Outside the lock: the result steps after a cancelled producer run at once.
  for (const auto& weak : producers)
    if (auto producer = weak.lock()) producer->cancel();
}

bool ApplicationScanner::wasCancelled() const {
  std::lock_guard lock(_mutex);
  return _cancelled;
}

void ApplicationScanner::track(const std::vector<std::shared_ptr<Procedure>>& producers) {
  {
    std::lock_guard lock(_mutex);
    if (!_cancelled) {
      _producers.insert(_producers.end(), producers.begin(), producers.end());
      return;
    }
  }
  for (const auto& producer : producers) producer->cancel();
}

void ApplicationScanner::updateProgress(Category category, double progress) {
  // After a cancellation the stages that are skipped report nothing.
  if (wasCancelled()) return;
  _listeners.notify([category, progress](ApplicationScannerListener& listener) {
    listener.progressUpdate(progress,
                            randomScanPhrase() + " " + ApplicationResourceGroup::localizedName(category) + "...");
  });
}

void ApplicationScanner::finishScan(std::function<void()> done) {
  DispatchQueue::main()->async([weakSelf = weak_from_this(), done = std::move(done)] {
    if (auto self = weakSelf.lock()) {
      {
        std::lock_guard lock(self->_mutex);
        self->_isRunning.store(false);
      }
      for (const auto& listener : self->_listeners.listeners()) listener->scanDidFinish();
    }
    if (done) done();
  });
}

void ApplicationScanner::mergeOtherApplications(const ApplicationItemSet& found) {
  std::lock_guard lock(_mutex);
  for (const auto& other : found) {
    auto known = _applications.find(other);
    if (known == _applications.end()) {
      _applications.insert(other);
      continue;
    }
    // The item from the default folders stays; its binaries list every copy of the bundle.
    auto& files = (*known)->binaries->files;
    files.insert(files.end(), other->binaries->files.begin(), other->binaries->files.end());
  }
}

void ApplicationScanner::start() {
  bool running = false;
  {
    std::lock_guard lock(_mutex);
    running = _isRunning.exchange(true);
    if (!running) {
      _cancelled = false;
      _producers.clear();
      _unreadable.clear();
    }
  }
  if (running) {
    LogWarning("Application Scanner is already running");
    return;
  }
  _listeners.notify([](ApplicationScannerListener& listener) { listener.scanDidStart(); });
  const std::weak_ptr<ApplicationScanner> weakSelf = weak_from_this();

  auto applications = ApplicationScanProcedure::make();
  applications->setName("applications scan");
  auto applicationsResult = resultProcessingProcedure(applications, [weakSelf](const ApplicationScanResult& result) {
    auto self = weakSelf.lock();
    if (!self) return;
    self->setApplications(result.applications);
    self->updateProgress(Category::binaries, 0.05);
  });
  applicationsResult->setName("applications result");

  auto others = OtherApplicationsScanProcedure::make();
  others->setName("other applications scan");
  others->addDependency(applicationsResult);
  auto othersResult = resultProcessingProcedure(others, [weakSelf](const ApplicationScanResult& result) {
    auto self = weakSelf.lock();
    if (!self) return;
    self->mergeOtherApplications(result.applications);
    {
      std::lock_guard lock(self->_mutex);
      self->_userData = result.userData;
    }
    self->updateProgress(Category::supportFiles, 0.15);
  });
  othersResult->setName("other applications result");

  auto supportFiles = SupportFilesScanProcedure::make();
  supportFiles->setName("support files scan");
  supportFiles->addDependency(others);
  auto supportFilesResult =
      resultProcessingProcedure(supportFiles, [weakSelf, weakScan = std::weak_ptr<SupportFilesScanProcedure>(supportFiles)](
                                                  const std::shared_ptr<ApplicationSupportFiles>& files) {
        auto self = weakSelf.lock();
        if (!self) return;
        {
          std::lock_guard lock(self->_mutex);
          self->_supportFiles = files;
        }
        if (auto scan = weakScan.lock()) self->addUnreadable(scan->unreadable());
        self->updateProgress(Category::logs, 0.25);
      });
  supportFilesResult->setName("support files result");

  // Set when the stage hands over to the bundle stage; a stage that ends without doing so
  // (cancelled) still ends the scan, after the first stage, or the scanner would stay
  // running for good and a later start() would only warn.
  auto handedOver = std::make_shared<std::atomic<bool>>(false);
  auto bundleStage = std::make_shared<AsyncProcedure>(false, [weakSelf, handedOver](AsyncProcedure& procedure) {
    if (procedure.isCancelled() || weakSelf.expired()) {
      procedure.finish();
      return;
    }
    handedOver->store(true);
    DispatchQueue::main()->async([weakSelf, stage = procedure.sharedAs<AsyncProcedure>()] {
      if (auto self = weakSelf.lock()) {
        self->bundleStage();
        self->updateProgress(Category::containers, 0.35);
      }
      stage->finish();
    });
  });
  bundleStage->setName("bundle stage");
  bundleStage->addDependency(supportFilesResult);
  bundleStage->addDidFinishBlockObserver([weakSelf, handedOver](Procedure&, const ErrorPtr&) {
    if (handedOver->load()) return;
    if (auto self = weakSelf.lock()) self->finishScan({});
  });

  // The result steps and the hand-over are no producers: after a cancellation they still
  // run, and the scan reaches its end.
  track({applications, others, supportFiles});
  _listeners.addToQueue(
      _queue, {applications, applicationsResult, others, othersResult, supportFiles, supportFilesResult, bundleStage});
}

void ApplicationScanner::bundleStage() {
  auto group = std::make_shared<GroupProcedure>();
  group->setName("bundle scans");
  group->setMaxConcurrentOperationCount(kStageConcurrency);
  for (const auto& item : applicationList()) {
    if (item->binaries->files.empty() || !item->binaries->files.front()) continue;
    auto bundle = item->binaries->files.front();
    auto scan = BundleScanProcedure::make(bundle->url);
    auto store = resultProcessingProcedure(scan, [item, bundle, weakScan = std::weak_ptr(scan),
                                                  weakSelf = weak_from_this()](const BundleScanResult& result) {
      bundle->size = result.size;
      item->childApplications = result.childApplications;
      auto self = weakSelf.lock();
      auto scanned = weakScan.lock();
      if (self && scanned) self->addUnreadable(scanned->unreadable());
    });
    group->addChild(scan);
    group->addChild(store);
  }
  const std::weak_ptr<ApplicationScanner> weakSelf = weak_from_this();
  auto next = std::make_shared<AsyncProcedure>(false, [weakSelf](AsyncProcedure& procedure) {
    if (auto self = weakSelf.lock()) {
      self->updateProgress(Category::supportFiles, 0.55);
      self->matchingStage();
    }
    procedure.finish();
  });
  next->setName("matching");
  next->addDependency(group);
  track({group});
  _listeners.addToQueue(_queue, {group, next});
}

void ApplicationScanner::matchingStage() {
  std::shared_ptr<ApplicationSupportFiles> supportFiles;
  {
    std::lock_guard lock(_mutex);
    supportFiles = _supportFiles;
  }
  auto group = std::make_shared<GroupProcedure>();
  group->setName("matching group");
  group->setMaxConcurrentOperationCount(kStageConcurrency);
  for (const auto& item : applicationList()) {
    std::vector<BundleInfo> bundles{item->bundleInfo};
    bundles.insert(bundles.end(), item->childApplications.begin(), item->childApplications.end());
    auto match = std::make_shared<SimpleMatchSupportingFilesProcedure>(std::move(bundles), supportFiles);
    match->setQualityOfService(QualityOfService::userInitiated);
    auto store = resultProcessingProcedure(
        match, [item](const std::vector<std::shared_ptr<ApplicationResourceGroup>>& groups) { item->resources = groups; });
    group->addChild(match);
    group->addChild(store);
  }
  const std::weak_ptr<ApplicationScanner> weakSelf = weak_from_this();
  auto next = std::make_shared<AsyncProcedure>(false, [weakSelf](AsyncProcedure& procedure) {
    if (auto self = weakSelf.lock()) {
      self->sizingStage();
      self->updateProgress(Category::supportFiles, 0.85);
    }
    procedure.finish();
  });
  next->setName("matching end");
  next->addDependency(group);
  track({group});
  _listeners.addToQueue(_queue, {group, next});
}

void ApplicationScanner::sizingStage() {
  auto group = std::make_shared<GroupProcedure>();
  group->setName("sizing");
  group->setMaxConcurrentOperationCount(kStageConcurrency);
  for (const auto& item : applicationList()) {
    for (const auto& resources : item->resources) {
      if (!resources) continue;
      for (const auto& resource : resources->files) {
        if (resource && resource->type == FileNode::NodeType::directory) addSizing(*group, resource);
      }
    }
    for (const auto& resource : item->binaries->files) {
      if (resource && resource->size == 0) addSizing(*group, resource);
    }
  }
  auto end = std::make_shared<BlockProcedure>([weakSelf = weak_from_this()](BlockProcedure& block) {
    auto self = weakSelf.lock();
    if (!self) {
      block.finish();
      return;
    }
    self->finishScan([block = block.sharedAs<BlockProcedure>()] { block->finish(); });
  });
  end->setName("end");
  end->addDependency(group);
  track({group});
  _listeners.addToQueue(_queue, {group, end});
}

}  // namespace vantelkit
