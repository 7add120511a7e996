#include "vantelkit/scanning/DiskScanner.h"

#include <algorithm>
#include <chrono>
#include <tuple>

#include "scanning/internal/DiskScanRun.h"
#include "scanning/internal/Heartbeat.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/Volumes.h"

namespace vantelkit {

namespace {
void sortHardLinks(std::vector<DiskScanResult::HardLink>& links) {
  if (links.empty()) return;
  std::vector<std::pair<std::string, std::size_t>> paths;
  paths.reserve(links.size());
  for (std::size_t i = 0; i < links.size(); ++i) paths.emplace_back(links[i].node->url().path(), i);
  std::sort(paths.begin(), paths.end(), [&links](const auto& a, const auto& b) {
    const auto& x = links[a.second];
    const auto& y = links[b.second];
    return std::tie(x.device, x.inode, a.first) < std::tie(y.device, y.inode, b.first);
  });
  std::vector<DiskScanResult::HardLink> sorted;
  sorted.reserve(paths.size());
  for (auto& entry : paths) sorted.push_back(std::move(links[entry.second]));
  links = std::move(sorted);
}
}  // namespace

std::shared_ptr<DiskScanner> DiskScanner::make(ProgressHandler progressHandler,
                                               std::shared_ptr<platform::DirectoryReader> reader) {
  return std::shared_ptr<DiskScanner>(new DiskScanner(std::move(progressHandler), std::move(reader)));
}

DiskScanner::DiskScanner(ProgressHandler progressHandler, std::shared_ptr<platform::DirectoryReader> reader)
    : _progressHandler(std::move(progressHandler)),
      _run(std::make_shared<internal::DiskScanRun>(reader ? std::move(reader)
                                                          : platform::DirectoryReader::shared())) {
  _run->wantsProgress = static_cast<bool>(_progressHandler);
}

DiskScanner::~DiskScanner() {
  if (_progressTimer) _progressTimer->cancel();
}

void DiskScanner::setMaxConcurrentTraversals(int count) { _run->setMaxConcurrentTraversals(count); }
void DiskScanner::setWalkOptions(WalkOptions options) { _run->walkOptions = std::move(options); }
const DiskScanner::WalkOptions& DiskScanner::walkOptions() const { return _run->walkOptions; }
void DiskScanner::setFanOut(FanOut rule) { _run->fanOut = rule; }
DiskScanner::FanOut DiskScanner::fanOut() const { return _run->fanOut; }
bool DiskScanner::isCancelled() const { return _run->isCancelled(); }
std::int64_t DiskScanner::sizeSoFar() const { return _run->totalSize(); }
std::string DiskScanner::currentFolder() const { return _run->currentFolder(); }
std::int64_t DiskScanner::filesScanned() const { return _run->filesScanned(); }
std::int64_t DiskScanner::countedEntries() const { return _run->countedEntries(); }
std::int32_t DiskScanner::activeThreads() const { return _run->activeThreads(); }
std::int32_t DiskScanner::waitingOperations() const { return _run->waitingOperations(); }

void DiskScanner::startProgressTimer() {
  if (!_progressHandler) return;
  std::weak_ptr<DiskScanner> weak = weak_from_this();
  _progressTimer = std::make_shared<internal::Heartbeat>(1.0 / 15.0, [weak] {
    if (auto self = weak.lock()) self->_progressHandler(0.0, false);
  });
  _progressTimer->resume();
}

std::size_t DiskScanner::prepare(const FileURL& rootURL, bool searchBundles, std::optional<int> depthLimit) {
  _run->reset();
  startProgressTimer();
  const std::size_t rootDepth = rootURL.pathComponentCount();
  _run->rootPathLength = rootURL.path().size();
  _run->rootDepth = rootDepth;
  _run->kernelMountPoints.clear();
  if (_run->walkOptions.skipPseudoFileSystems) {
    const std::string root = rootURL.path();
    for (auto& point : platform::kernelFileSystemMountPoints()) {
      const bool below = point.size() > root.size() && point.compare(0, root.size(), root) == 0 &&
                         (root == "/" || point[root.size()] == '/');
      if (below) _run->kernelMountPoints.push_back(std::move(point));
    }
  }
  _run->settings.searchBundles = searchBundles;
  _run->settings.maxDepth.reset();
  if (depthLimit) _run->settings.maxDepth = rootDepth + static_cast<std::size_t>(std::max(*depthLimit, 0));
  return rootDepth;
}

double DiskScanner::finishWalk(std::chrono::steady_clock::time_point start) {
  _run->operationQueue().waitUntilAllOperationsAreFinished();
  if (_progressTimer) {
    // No heartbeat after the scan: cancel() returns only once no tick is running.
    _progressTimer->cancel();
    _progressTimer.reset();
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::shared_ptr<DiskScanResult> DiskScanner::scan(const FileURL& url, ScanRequest request,
                                                  const Completion& completion) {
  auto& run = *_run;
  run.buildTree = request.buildTree;
  run.map.reset();
  run.collectors.clear();
  run.evaluators.clear();
  for (auto& collector : request.collectors) {
    if (!collector) continue;
    run.evaluators.push_back(collector->evaluator());
    run.collectors.push_back(std::move(collector));
  }
  auto rootURL = url.hasDirectoryPath() ? url : FileURL::fileURLWithPath(url.path(), true);
  auto root = FileNode::make(rootURL, nullptr, 0, FileNode::NodeType::directory);
  const std::size_t rootDepth = prepare(rootURL, request.searchBundles, request.depthLimit);

  auto start = std::chrono::steady_clock::now();
  run.addOperation(root, rootDepth);
  double elapsed = finishWalk(start);
  DiskScanResult::Details details = run.takeDetails();
  if (run.walkOptions.countOwnSizes) {
    // The root folder's own size (a link given as the root is followed, as the walk does).
    auto status = platform::pathStatus(rootURL.path(), true);
    if (status.type == platform::FileObjectType::directory) {
      details.totalSize += status.ownSize;
      details.totalUsage += status.ownUsage;
    }
  }
  if (run.walkOptions.countHardLinksOnce) {
    countHardLinksOnce(details.hardLinks, details.totalSize, details.totalUsage, run.buildTree);
  } else {
    sortHardLinks(details.hardLinks);
  }
  auto result = std::make_shared<DiskScanResult>(root, elapsed, run.filesScanned(), std::move(details));
  run.collectors.clear();
  run.evaluators.clear();
  // Ready for another scan. (Cleared here rather than at the start, so that a cancel()
  // that arrives just before scan() is not lost.)
  run.clearCancel();
  if (completion) completion(result);
  return result;
}

std::shared_ptr<DiskMap> DiskScanner::scanMap(const FileURL& url, MapRequest request) {
  auto& run = *_run;
  run.collectors.clear();
  run.evaluators.clear();
  run.buildTree = true;
  auto rootURL = url.hasDirectoryPath() ? url : FileURL::fileURLWithPath(url.path(), true);
  auto map = std::make_shared<DiskMap>(rootURL);
  run.map = map;
  run.mapChoices = std::move(request.choices);
  const std::size_t rootDepth = prepare(rootURL, request.searchBundles, request.depthLimit);
  // The root folder's own size, as each folder below carries its own (a link given as the
  // root is followed, as the walk follows it).
  std::int64_t rootSize = 0, rootUsage = 0;
  if (run.mapChoices.fileSizes) {
    auto status = platform::pathStatus(rootURL.path(), true);
    if (status.type == platform::FileObjectType::directory) {
      rootSize = status.ownSize;
      rootUsage = status.ownUsage;
      map->at(DiskMap::rootIndex).size = rootSize;
      map->at(DiskMap::rootIndex).usage = rootUsage;
    }
  }

  auto start = std::chrono::steady_clock::now();
  run.addMapOperation(DiskMap::rootIndex, rootDepth);
  double elapsed = finishWalk(start);
  DiskScanResult::Details details = run.takeDetails();
  std::vector<DiskMap::HardLink> links = run.takeMapHardLinks();
  map->setFigures(details.totalSize + rootSize, details.totalUsage + rootUsage, std::move(details.unreadable),
                  details.complete, elapsed, run.filesScanned(), run.mapChoices.fileSizes, run.mapChoices.namesInOrder);
  map->settleHardLinks(std::move(links), run.walkOptions.countHardLinksOnce);
  map->sumFolders();
  run.map.reset();
  run.mapChoices = {};
  run.clearCancel();
  return map;
}

void DiskScanner::countHardLinksOnce(std::vector<DiskScanResult::HardLink>& links, std::int64_t& size,
                                     std::int64_t& usage, bool inTree) {
  sortHardLinks(links);
  for (std::size_t i = 1; i < links.size(); ++i) {
    if (links[i].device != links[i - 1].device || links[i].inode != links[i - 1].inode) continue;
    auto& node = links[i].node;
    node->addMark(FileNode::duplicateLink);
    size -= node->size();
    usage -= node->usage();
    if (!inTree) continue;
    for (auto ancestor = node->parent(); ancestor; ancestor = ancestor->parent()) {
      ancestor->addSize(-node->size());
      ancestor->addUsage(-node->usage());
    }
  }
}

bool DiskScanner::isBundleName(std::string_view name) {
  for (auto suffix : bundleSuffixes)
    if (name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix) return true;
  return false;
}

void DiskScanner::cancel() { _run->cancel(); }

}  // namespace vantelkit
