#include "vantelkit/scanning/DiskScanner.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <tuple>

#include "scanning/internal/MapScanOperation.h"
#include "scanning/internal/Heartbeat.h"
#include "vantelkit/scanning/ScanOperation.h"

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

std::shared_ptr<DiskScanner> DiskScanner::make(ProgressHandler progressHandler, bool buildTree,
                                               std::shared_ptr<platform::DirectoryReader> reader) {
  return std::shared_ptr<DiskScanner>(new DiskScanner(std::move(progressHandler), buildTree, std::move(reader)));
}

DiskScanner::DiskScanner(ProgressHandler progressHandler, bool buildTree,
                         std::shared_ptr<platform::DirectoryReader> reader)
    : _buildTree(buildTree),
      _operationQueue("DiskScanner Operations"),
      _progressHandler(std::move(progressHandler)),
      _reader(reader ? std::move(reader) : platform::DirectoryReader::platformDefault()) {
  _operationQueue.setQualityOfService(QualityOfService::userInitiated);
  setMaxConcurrentTraversals(0);
}

DiskScanner::~DiskScanner() {
  if (_progressTimer) _progressTimer->cancel();
}

void DiskScanner::setMaxConcurrentTraversals(int count) {
  if (count <= 0) count = static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
  _maxConcurrentTraversals = count;
  _operationQueue.setMaxConcurrentOperationCount(count);
}

void DiskScanner::startProgressTimer() {
  if (!_progressHandler) return;
  std::weak_ptr<DiskScanner> weak = weak_from_this();
  _progressTimer = std::make_shared<internal::Heartbeat>(1.0 / 15.0, [weak] {
    if (auto self = weak.lock()) self->_progressHandler(0.0, false);
  });
  _progressTimer->resume();
}

std::size_t DiskScanner::prepare(const FileURL& rootURL, bool searchBundles, std::optional<int> depthLimit) {
  _filesScanned.store(0, std::memory_order_relaxed);
  _countedEntries.store(0, std::memory_order_relaxed);
  _totalSize.store(0, std::memory_order_relaxed);
  _totalUsage.store(0, std::memory_order_relaxed);
  _rootDevice.store(0, std::memory_order_relaxed);
  {
    std::lock_guard lock(_recordMutex);
    _unreadable.clear();
    _hardLinks.clear();
    _mapHardLinks.clear();
    _currentFolder.reset();
    _currentMapFolder.reset();
  }
  startProgressTimer();
  const std::size_t rootDepth = rootURL.pathComponentCount();
  _rootPathLength = rootURL.path().size();
  _rootDepth = rootDepth;
  _settings.searchBundles = searchBundles;
  _settings.maxDepth.reset();
  if (depthLimit) _settings.maxDepth = rootDepth + static_cast<std::size_t>(std::max(*depthLimit, 0));
  return rootDepth;
}

double DiskScanner::finishWalk(std::chrono::steady_clock::time_point start) {
  _operationQueue.waitUntilAllOperationsAreFinished();
  if (_progressTimer) {
    // No heartbeat after the scan: cancel() returns only once no tick is running.
    _progressTimer->cancel();
    _progressTimer.reset();
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

DiskScanResult::Details DiskScanner::takeDetails() {
  DiskScanResult::Details details;
  details.totalSize = _totalSize.load(std::memory_order_relaxed);
  details.totalUsage = _totalUsage.load(std::memory_order_relaxed);
  details.complete = !isCancelled();
  {
    std::lock_guard lock(_recordMutex);
    details.unreadable = std::move(_unreadable);
    details.hardLinks = std::move(_hardLinks);
    _unreadable.clear();
    _hardLinks.clear();
    _currentFolder.reset();
    _currentMapFolder.reset();
  }
  std::sort(details.unreadable.begin(), details.unreadable.end(),
            [](const auto& a, const auto& b) { return a.path < b.path; });
  details.hardLinksCountedOnce = _walkOptions.countHardLinksOnce;
  return details;
}

std::shared_ptr<DiskScanResult> DiskScanner::scan(const FileURL& url,
                                                  std::vector<std::shared_ptr<FileCollector>> collectors,
                                                  bool buildTree, bool searchBundles, std::optional<int> depthLimit,
                                                  const Completion& completion) {
  _buildTree = buildTree;
  _collectors.clear();
  _evaluators.clear();
  for (auto& collector : collectors) {
    if (!collector) continue;
    _evaluators.push_back(collector->evaluator());
    _collectors.push_back(std::move(collector));
  }
  auto rootURL = url.hasDirectoryPath() ? url : FileURL::fileURLWithPath(url.path(), true);
  auto root = FileNode::make(rootURL, nullptr, 0, FileNode::NodeType::directory);
  const std::size_t rootDepth = prepare(rootURL, searchBundles, depthLimit);

  auto start = std::chrono::steady_clock::now();
  addOperation(root, rootDepth);
  double elapsed = finishWalk(start);
  DiskScanResult::Details details = takeDetails();
  if (_walkOptions.countHardLinksOnce) {
    countHardLinksOnce(details.hardLinks, details.totalSize, details.totalUsage, _buildTree);
  } else {
    sortHardLinks(details.hardLinks);
  }
  auto result = std::make_shared<DiskScanResult>(root, elapsed, _filesScanned.load(std::memory_order_relaxed),
                                                 std::move(details));
  // Ready for another scan. (Cleared here rather than at the start, so that a cancel()
  // that arrives just before scan() is not lost.)
  _isCancelled.store(false, std::memory_order_release);
  if (completion) completion(result);
  return result;
}

std::shared_ptr<DiskMap> DiskScanner::scanMap(const FileURL& url, bool searchBundles, std::optional<int> depthLimit,
                                              MapChoices choices) {
  _collectors.clear();
  _evaluators.clear();
  _buildTree = true;
  auto rootURL = url.hasDirectoryPath() ? url : FileURL::fileURLWithPath(url.path(), true);
  auto map = std::make_shared<DiskMap>(rootURL);
  _map = map;
  _mapChoices = choices;
  const std::size_t rootDepth = prepare(rootURL, searchBundles, depthLimit);

  auto start = std::chrono::steady_clock::now();
  addMapOperation(DiskMap::rootIndex, rootDepth);
  double elapsed = finishWalk(start);
  DiskScanResult::Details details = takeDetails();
  std::vector<DiskMap::HardLink> links;
  {
    std::lock_guard lock(_recordMutex);
    links = std::move(_mapHardLinks);
    _mapHardLinks.clear();
  }
  map->setFigures(details.totalSize, details.totalUsage, std::move(details.unreadable), details.complete, elapsed,
                  _filesScanned.load(std::memory_order_relaxed), choices.fileSizes, choices.namesInOrder);
  map->settleHardLinks(std::move(links), _walkOptions.countHardLinksOnce);
  map->sumFolders();
  _map.reset();
  _isCancelled.store(false, std::memory_order_release);
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

std::string DiskScanner::currentFolder() const {
  std::lock_guard lock(_recordMutex);
  if (_currentMapFolder && _map) return _map->path(*_currentMapFolder);
  return _currentFolder ? _currentFolder->url().path() : std::string();
}

void DiskScanner::noteMapListing(DiskMap::Index folder) {
  std::unique_lock lock(_recordMutex, std::try_to_lock);
  if (lock.owns_lock()) _currentMapFolder = folder;
}

void DiskScanner::recordMapHardLinks(std::vector<DiskMap::HardLink>& links) {
  std::lock_guard lock(_recordMutex);
  _mapHardLinks.insert(_mapHardLinks.end(), links.begin(), links.end());
}

void DiskScanner::noteListing(const std::shared_ptr<FileNode>& folder) {
  // Progress needs only a recent folder: skip the note when another traversal holds the lock.
  std::unique_lock lock(_recordMutex, std::try_to_lock);
  if (lock.owns_lock()) _currentFolder = folder;
}

void DiskScanner::recordUnreadable(std::vector<DiskScanResult::UnreadableEntry>& entries) {
  std::lock_guard lock(_recordMutex);
  for (auto& entry : entries) _unreadable.push_back(std::move(entry));
}

void DiskScanner::recordHardLinks(std::vector<DiskScanResult::HardLink>& links) {
  std::lock_guard lock(_recordMutex);
  for (auto& link : links) _hardLinks.push_back(std::move(link));
}

void DiskScanner::cancel() {
  // The flag first: an operation queued after the queue was emptied must see it.
  _isCancelled.store(true, std::memory_order_release);
  _operationQueue.cancelAllOperations();
}

void DiskScanner::addOperation(const std::shared_ptr<FileNode>& node, std::size_t depth, bool slotReserved) {
  if (isCancelled()) {
    if (slotReserved) releaseTraversalSlot();
    return;
  }
  if (!slotReserved) _activeThreads.fetch_add(1, std::memory_order_relaxed);
  queueOperation(std::make_shared<ScanOperation>(shared_from_this(), node, depth));
}

void DiskScanner::addMapOperation(DiskMap::Index folder, std::size_t depth, bool slotReserved) {
  if (isCancelled()) {
    if (slotReserved) releaseTraversalSlot();
    return;
  }
  if (!slotReserved) _activeThreads.fetch_add(1, std::memory_order_relaxed);
  queueOperation(std::make_shared<internal::MapScanOperation>(shared_from_this(), folder, depth));
}

void DiskScanner::queueOperation(std::shared_ptr<Operation> operation) {
  _waitingOperations.fetch_add(1, std::memory_order_relaxed);
  _operationQueue.addOperation(std::move(operation));
}

bool DiskScanner::reserveTraversalSlot() {
  auto active = _activeThreads.load(std::memory_order_relaxed);
  while (active < maxActiveTraversals) {
    if (_activeThreads.compare_exchange_weak(active, active + 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

void DiskScanner::releaseTraversalSlot() { _activeThreads.fetch_sub(1, std::memory_order_relaxed); }

}  // namespace vantelkit
