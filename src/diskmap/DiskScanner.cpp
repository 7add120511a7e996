#include "vantelkit/diskmap/DiskScanner.h"

#include <chrono>
#include <thread>

#include "scanning/internal/Heartbeat.h"
#include "vantelkit/scanning/ScanOperation.h"

namespace vantelkit {

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

std::shared_ptr<DiskScanResult> DiskScanner::scan(const FileURL& url,
                                                  std::vector<std::shared_ptr<FileCollector>> collectors,
                                                  bool buildTree, bool searchBundles, std::optional<int> depthLimit,
                                                  const Completion& completion) {
  _filesScanned.store(0, std::memory_order_relaxed);
  _buildTree = buildTree;
  startProgressTimer();
  _collectors.clear();
  _evaluators.clear();
  for (auto& collector : collectors) {
    if (!collector) continue;
    _evaluators.push_back(collector->evaluator());
    _collectors.push_back(std::move(collector));
  }
  auto rootURL = url.hasDirectoryPath() ? url : FileURL::fileURLWithPath(url.path(), true);
  auto root = FileNode::make(rootURL, nullptr, 0, FileNode::NodeType::directory);
  const std::size_t rootDepth = rootURL.pathComponentCount();
  _settings.searchBundles = searchBundles;
  _settings.maxDepth.reset();
  if (depthLimit) _settings.maxDepth = rootDepth + static_cast<std::size_t>(std::max(*depthLimit, 0));

  auto start = std::chrono::steady_clock::now();
  addOperation(root, rootDepth);
  _operationQueue.waitUntilAllOperationsAreFinished();
  if (_progressTimer) {
    // No heartbeat after the scan: cancel() returns only once no tick is running.
    _progressTimer->cancel();
    _progressTimer.reset();
  }
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  auto result = std::make_shared<DiskScanResult>(root, elapsed, _filesScanned.load(std::memory_order_relaxed));
  // Ready for another scan. (Cleared here rather than at the start, so that a cancel()
  // that arrives just before scan() is not lost.)
  _isCancelled.store(false, std::memory_order_release);
  if (completion) completion(result);
  return result;
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
  _operationQueue.addOperation(std::make_shared<ScanOperation>(shared_from_this(), node, depth));
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
