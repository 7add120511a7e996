#include "scanning/internal/DiskScanRun.h"

#include <algorithm>
#include <thread>

#include "scanning/internal/MapScanOperation.h"
#include "vantelkit/scanning/ScanOperation.h"

namespace vantelkit::internal {

DiskScanRun::DiskScanRun(std::shared_ptr<platform::DirectoryReader> reader)
    : _reader(std::move(reader)), _operationQueue("DiskScanner Operations") {
  _operationQueue.setQualityOfService(QualityOfService::userInitiated);
  setMaxConcurrentTraversals(0);
}

void DiskScanRun::setMaxConcurrentTraversals(int count) {
  if (count <= 0) count = static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
  _maxConcurrentTraversals = count;
  _operationQueue.setMaxConcurrentOperationCount(count);
}

void DiskScanRun::reset() {
  _filesScanned.store(0, std::memory_order_relaxed);
  _countedEntries.store(0, std::memory_order_relaxed);
  _totalSize.store(0, std::memory_order_relaxed);
  _totalUsage.store(0, std::memory_order_relaxed);
  _rootDevice.store(0, std::memory_order_relaxed);
  std::lock_guard lock(_recordMutex);
  _unreadable.clear();
  _hardLinks.clear();
  _mapHardLinks.clear();
  _currentFolder.reset();
  _currentMapFolder.reset();
}

DiskScanResult::Details DiskScanRun::takeDetails() {
  DiskScanResult::Details details;
  details.totalSize = totalSize();
  details.totalUsage = totalUsage();
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
  details.hardLinksCountedOnce = walkOptions.countHardLinksOnce;
  return details;
}

std::vector<DiskMap::HardLink> DiskScanRun::takeMapHardLinks() {
  std::lock_guard lock(_recordMutex);
  std::vector<DiskMap::HardLink> links = std::move(_mapHardLinks);
  _mapHardLinks.clear();
  return links;
}

std::string DiskScanRun::currentFolder() const {
  std::lock_guard lock(_recordMutex);
  if (_currentMapFolder && map) return map->path(*_currentMapFolder);
  return _currentFolder ? _currentFolder->url().path() : std::string();
}

void DiskScanRun::noteMapListing(DiskMap::Index folder) {
  std::unique_lock lock(_recordMutex, std::try_to_lock);
  if (lock.owns_lock()) _currentMapFolder = folder;
}

void DiskScanRun::recordMapHardLinks(std::vector<DiskMap::HardLink>& links) {
  std::lock_guard lock(_recordMutex);
  _mapHardLinks.insert(_mapHardLinks.end(), links.begin(), links.end());
}

void DiskScanRun::noteListing(const std::shared_ptr<FileNode>& folder) {
  // Progress needs only a recent folder: skip the note when another traversal holds the lock.
  std::unique_lock lock(_recordMutex, std::try_to_lock);
  if (lock.owns_lock()) _currentFolder = folder;
}

void DiskScanRun::recordUnreadable(std::vector<DiskScanResult::UnreadableEntry>& entries) {
  std::lock_guard lock(_recordMutex);
  for (auto& entry : entries) _unreadable.push_back(std::move(entry));
}

void DiskScanRun::recordHardLinks(std::vector<DiskScanResult::HardLink>& links) {
  std::lock_guard lock(_recordMutex);
  for (auto& link : links) _hardLinks.push_back(std::move(link));
}

void DiskScanRun::cancel() {
  // The flag first: an operation queued after the queue was emptied must see it.
  _isCancelled.store(true, std::memory_order_release);
  _operationQueue.cancelAllOperations();
}

void DiskScanRun::addOperation(const std::shared_ptr<FileNode>& node, std::size_t depth, bool slotReserved) {
  if (isCancelled()) {
    if (slotReserved) releaseTraversalSlot();
    return;
  }
  if (!slotReserved) _activeThreads.fetch_add(1, std::memory_order_relaxed);
  queueOperation(std::make_shared<ScanOperation>(shared_from_this(), node, depth));
}

void DiskScanRun::addMapOperation(DiskMap::Index folder, std::size_t depth, bool slotReserved) {
  if (isCancelled()) {
    markNotListed(folder);
    if (slotReserved) releaseTraversalSlot();
    return;
  }
  if (!slotReserved) _activeThreads.fetch_add(1, std::memory_order_relaxed);
  queueOperation(std::make_shared<MapScanOperation>(shared_from_this(), folder, depth));
}

void DiskScanRun::queueOperation(std::shared_ptr<Operation> operation) {
  _waitingOperations.fetch_add(1, std::memory_order_relaxed);
  _operationQueue.addOperation(std::move(operation));
}

bool DiskScanRun::reserveTraversalSlot() {
  auto active = _activeThreads.load(std::memory_order_relaxed);
  while (active < DiskScanner::maxActiveTraversals) {
    if (_activeThreads.compare_exchange_weak(active, active + 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

}  // namespace vantelkit::internal

namespace vantelkit::internal {

void DiskScanRun::markNotListed(DiskMap::Index folder) {
  DiskMap::Entry& entry = map->at(folder);
  entry.marks = static_cast<std::uint8_t>(entry.marks | FileNode::notListed);
}

}  // namespace vantelkit::internal
