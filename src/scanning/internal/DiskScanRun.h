// The traversal state of a DiskScanner: its operation queue, the counters and settings the
// traversal operations share, and what they record beyond nodes. The scanner keeps one for
// its whole life and resets it at the start of each scan; the operations hold it strongly,
// so that none of this is reachable from the scanner's public face.
// Thread safety: the settings, collectors and map are set by the scanning thread before the
// first operation is queued and only read afterwards; counters are atomic; records are
// guarded by _recordMutex.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "vantelkit/foundation/Operation.h"
#include "vantelkit/platform/DirectoryReader.h"
#include "vantelkit/scanning/DiskMap.h"
#include "vantelkit/scanning/DiskScanResult.h"
#include "vantelkit/scanning/DiskScanner.h"
#include "vantelkit/scanning/FileCollector.h"

namespace vantelkit::internal {

class DiskScanRun : public std::enable_shared_from_this<DiskScanRun> {
 public:
  explicit DiskScanRun(std::shared_ptr<platform::DirectoryReader> reader);
  DiskScanRun(const DiskScanRun&) = delete;
  DiskScanRun& operator=(const DiskScanRun&) = delete;

  // Set by the scanner before a scan, read by the traversals.
  DiskScanner::Settings settings;
  bool buildTree = false;
  bool wantsProgress = false;
  DiskScanner::WalkOptions walkOptions;
  DiskScanner::FanOut fanOut = DiskScanner::FanOut::onDemand;
  std::vector<std::shared_ptr<FileCollector>> collectors;
  // The collectors' tests, asked once per scan, in collector order.
  std::vector<FileCollector::Evaluator> evaluators;
  // The map scanMap() is filling (null otherwise), and what it keeps.
  std::shared_ptr<DiskMap> map;
  DiskMapChoices mapChoices;
  // The scan root's path length and component count.
  std::size_t rootPathLength = 0;
  std::size_t rootDepth = 0;
  // Under WalkOptions::skipPseudoFileSystems: where kernel file systems are mounted below the
  // scan root, sorted (usually none).
  std::vector<std::string> kernelMountPoints;

  // Resets counters and records for a new scan.
  void reset();
  void setMaxConcurrentTraversals(int count);
  int maxConcurrentTraversals() const { return _maxConcurrentTraversals; }
  platform::DirectoryReader& reader() const { return *_reader; }
  OperationQueue& operationQueue() { return _operationQueue; }

  bool isCancelled() const { return _isCancelled.load(std::memory_order_acquire); }
  // Stops queueing and drops queued operations.
  void cancel();
  // Clears the cancel flag once a scan has ended.
  void clearCancel() { _isCancelled.store(false, std::memory_order_release); }

  // Queues a traversal of a directory node (depth: its URL's component count), unless the
  // scan is cancelled. The traversal is counted active until its operation has finished.
  // slotReserved: the caller already holds a slot from reserveTraversalSlot().
  void addOperation(const std::shared_ptr<FileNode>& node, std::size_t depth, bool slotReserved = false);
  // The same for a folder of the map being filled.
  void addMapOperation(DiskMap::Index folder, std::size_t depth, bool slotReserved = false);
  // Marks a folder of the map that its operation will not list (cancelled before it ran).
  void markNotListed(DiskMap::Index folder);
  // Claims one active-traversal slot when fewer than maxActiveTraversals are taken.
  bool reserveTraversalSlot();
  void releaseTraversalSlot() { _activeThreads.fetch_sub(1, std::memory_order_relaxed); }
  std::int32_t activeThreads() const { return _activeThreads.load(std::memory_order_relaxed); }
  // Queued operations that have not started yet.
  std::int32_t waitingOperations() const { return _waitingOperations.load(std::memory_order_relaxed); }
  void operationDidStartOrDrop() { _waitingOperations.fetch_sub(1, std::memory_order_relaxed); }

  std::uint64_t rootDevice() const { return _rootDevice.load(std::memory_order_acquire); }
  void setRootDevice(std::uint64_t device) { _rootDevice.store(device, std::memory_order_release); }

  void addTotals(std::int64_t size, std::int64_t usage) {
    _totalSize.fetch_add(size, std::memory_order_relaxed);
    _totalUsage.fetch_add(usage, std::memory_order_relaxed);
  }
  std::int64_t totalSize() const { return _totalSize.load(std::memory_order_relaxed); }
  std::int64_t totalUsage() const { return _totalUsage.load(std::memory_order_relaxed); }
  void addFilesScanned(std::int64_t count) { _filesScanned.fetch_add(count, std::memory_order_relaxed); }
  std::int64_t filesScanned() const { return _filesScanned.load(std::memory_order_relaxed); }
  void addCountedEntries(std::int64_t count) { _countedEntries.fetch_add(count, std::memory_order_relaxed); }
  std::int64_t countedEntries() const { return _countedEntries.load(std::memory_order_relaxed); }

  void recordUnreadable(std::vector<DiskScanResult::UnreadableEntry>& entries);
  void recordHardLinks(std::vector<DiskScanResult::HardLink>& links);
  void recordMapHardLinks(std::vector<DiskMap::HardLink>& links);
  // The folder listed most recently, for progress (skipped when another traversal notes one).
  void noteListing(const std::shared_ptr<FileNode>& folder);
  void noteMapListing(DiskMap::Index folder);
  std::string currentFolder() const;

  // The records of the walk just ended, taken out of the run.
  DiskScanResult::Details takeDetails();
  std::vector<DiskMap::HardLink> takeMapHardLinks();

 private:
  void queueOperation(std::shared_ptr<Operation> operation);

  std::shared_ptr<platform::DirectoryReader> _reader;
  OperationQueue _operationQueue;
  int _maxConcurrentTraversals = 2;  // set before a scan
  std::atomic<bool> _isCancelled{false};
  std::atomic<std::int32_t> _activeThreads{0};
  std::atomic<std::int32_t> _waitingOperations{0};
  std::atomic<std::int64_t> _filesScanned{0};
  std::atomic<std::int64_t> _countedEntries{0};
  std::atomic<std::uint64_t> _rootDevice{0};
  std::atomic<std::int64_t> _totalSize{0};
  std::atomic<std::int64_t> _totalUsage{0};
  mutable std::mutex _recordMutex;
  std::vector<DiskScanResult::UnreadableEntry> _unreadable;  // guarded by _recordMutex
  std::vector<DiskScanResult::HardLink> _hardLinks;          // likewise
  std::vector<DiskMap::HardLink> _mapHardLinks;              // likewise
  std::shared_ptr<FileNode> _currentFolder;                  // likewise
  std::optional<DiskMap::Index> _currentMapFolder;           // likewise
};

}  // namespace vantelkit::internal
