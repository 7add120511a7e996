// One parallel scan of a folder at a time: owns the queue of traversal operations, the
// counters and settings they share, and turns the finished traversal into a DiskScanResult.
// scan() blocks its caller until the walk has ended.
// Thread safety: scan() from one thread at a time; cancel() and the counters from any
// thread. Collectors are offered nodes on the traversal threads.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/scanning/DiskMap.h"
#include "vantelkit/scanning/DiskScanResult.h"
#include "vantelkit/foundation/Operation.h"
#include "vantelkit/platform/DirectoryReader.h"
#include "vantelkit/scanning/FileCollector.h"

namespace vantelkit {

namespace internal {
class Heartbeat;
}

// What DiskScanner::scanMap() keeps.
struct DiskMapChoices {
  // False: only names and types are read (no status per file: much less work), and the
  // map's files have size 0.
  bool fileSizes = true;
  // Each folder's children in the byte order of their names instead of listing order
  // (sorted by the traversals, in parallel).
  bool namesInOrder = false;
  // When set, asked of each entry as the traversals add it (on their threads; a folder's
  // size is still 0 then); DiskScanner::countedEntries() tells how many it accepted so far.
  std::function<bool(const DiskMap::Entry&)> counted;
};

class DiskScanner : public std::enable_shared_from_this<DiskScanner> {
 public:
  struct Settings {
    bool searchBundles = false;
    // An absolute number of path components: a directory whose URL has this many
    // components or more is not listed. None: no limit.
    std::optional<std::size_t> maxDepth;
    bool operator==(const Settings&) const = default;
  };

  // Choices of the walk beyond the documented settings; set before a scan, kept across scans.
  struct WalkOptions {
    // Stay on the device of the scan root: folders on other devices are not listed (and
    // are marked FileNode::otherFileSystem).
    bool oneFileSystem = false;
    // /proc, /sys, /dev and /run, met below the scan root, are not listed (marked
    // FileNode::pseudoFileSystem). The scan root itself is always listed.
    bool skipPseudoFileSystems = false;
    // Entries whose name, or whose path below the scan root, matches one of these shell
    // patterns get no node.
    std::vector<std::string> excludes;
    // Folders holding a valid CACHEDIR.TAG are not listed (marked FileNode::cacheFolder).
    bool excludeCaches = false;
    // A file with several links adds to the sums once per device and inode (the link with
    // the smallest path counts; the others are marked FileNode::duplicateLink).
    bool countHardLinksOnce = false;
  };

  // How a traversal decides to hand a subdirectory to a new operation. Linux cannot tell a
  // directory's entry count before listing it, so the rule looks at what it knows.
  enum class FanOut {
    // Every subdirectory goes to a new operation while fewer than maxActiveTraversals are
    // active; the rest are walked inline.
    whileSlotsFree,
    // Only subdirectories of a directory with more than inlineEntryLimit entries may go to a
    // new operation (the parent's width standing in for the child's), slots permitting.
    wideParentsOnly,
    // A subdirectory goes to a new operation only while fewer operations wait to start than
    // there are traversal threads (some thread would otherwise run dry), slots permitting.
    onDemand,
  };

  using ProgressHandler = std::function<void(double progress, bool finished)>;
  using Completion = std::function<void(const std::shared_ptr<DiskScanResult>&)>;

  // Names ending like these are bundles, not descended into unless searchBundles is set.
  static constexpr std::array<std::string_view, 2> bundleSuffixes{".kext", ".app"};
  // True when name ends with one of bundleSuffixes.
  static bool isBundleName(std::string_view name);
  // The pseudo file systems skipped under WalkOptions::skipPseudoFileSystems.
  static constexpr std::array<std::string_view, 4> pseudoFileSystemPaths{"/proc", "/sys", "/dev", "/run"};
  // Most traversals (queued or running operations) counted active at once.
  static constexpr std::int32_t maxActiveTraversals = 16;
  // Directories with at most this many entries are walked inline under wideParentsOnly.
  static constexpr std::size_t inlineEntryLimit = 16;

  // reader: the directory listing service (the platform's when null).
  static std::shared_ptr<DiskScanner> make(ProgressHandler progressHandler = {}, bool buildTree = false,
                                           std::shared_ptr<platform::DirectoryReader> reader = nullptr);
  ~DiskScanner();
  DiskScanner(const DiskScanner&) = delete;
  DiskScanner& operator=(const DiskScanner&) = delete;

  // Walks url and calls completion (on the calling thread) with the result before returning
  // it. depthLimit counts the directory levels that are listed, the root being 1 (0 acts as
  // 1); none lists everything. A root that cannot be listed gives an empty root and 0 nodes.
  std::shared_ptr<DiskScanResult> scan(const FileURL& url, std::vector<std::shared_ptr<FileCollector>> collectors,
                                       bool buildTree, bool searchBundles, std::optional<int> depthLimit,
                                       const Completion& completion = {});

  using MapChoices = DiskMapChoices;
  // Walks url as scan() does when it builds a tree, into a compact DiskMap instead of
  // FileNodes (no collectors; the walk options apply as they do to scan()). Blocks until the
  // walk has ended; cancel() gives the partial map.
  std::shared_ptr<DiskMap> scanMap(const FileURL& url, bool searchBundles, std::optional<int> depthLimit,
                                   MapChoices choices = {});

  // Stops the scan: no further traversal is queued, queued ones are dropped, running ones
  // end after their current listing. scan() then returns the partial result, and the
  // scanner is ready for another scan.
  void cancel();
  bool isCancelled() const { return _isCancelled.load(std::memory_order_acquire); }

  // Queues a traversal of a directory node (depth: its URL's component count), unless the
  // scan is cancelled. The traversal is counted active until its operation has finished.
  // slotReserved: the caller already holds a slot from reserveTraversalSlot().
  void addOperation(const std::shared_ptr<FileNode>& node, std::size_t depth, bool slotReserved = false);
  // The same for a folder of the map being filled by scanMap().
  void addMapOperation(DiskMap::Index folder, std::size_t depth, bool slotReserved = false);
  // Claims one active-traversal slot when fewer than maxActiveTraversals are taken.
  bool reserveTraversalSlot();
  void releaseTraversalSlot();
  // Queued operations that have not started yet.
  std::int32_t waitingOperations() const { return _waitingOperations.load(std::memory_order_relaxed); }
  void operationDidStartOrDrop() { _waitingOperations.fetch_sub(1, std::memory_order_relaxed); }
  int maxConcurrentTraversals() const { return _maxConcurrentTraversals; }

  // Sorts links by device, inode and path; then marks every link after the first of each
  // file FileNode::duplicateLink and takes it out of size, usage and (when inTree) the sizes
  // of its ancestors.
  static void countHardLinksOnce(std::vector<DiskScanResult::HardLink>& links, std::int64_t& size,
                                 std::int64_t& usage, bool inTree);

  void setWalkOptions(WalkOptions options) { _walkOptions = std::move(options); }
  const WalkOptions& walkOptions() const { return _walkOptions; }

  // Bytes of regular files found so far by the current scan (any thread, for progress).
  std::int64_t sizeSoFar() const { return _totalSize.load(std::memory_order_relaxed); }
  // The folder listed most recently, while a progress handler is set (any thread).
  std::string currentFolder() const;

  // For the traversals: what they found beyond nodes.
  void addTotals(std::int64_t size, std::int64_t usage) {
    _totalSize.fetch_add(size, std::memory_order_relaxed);
    _totalUsage.fetch_add(usage, std::memory_order_relaxed);
  }
  void recordUnreadable(std::vector<DiskScanResult::UnreadableEntry>& entries);
  void recordHardLinks(std::vector<DiskScanResult::HardLink>& links);
  void noteListing(const std::shared_ptr<FileNode>& folder);
  void noteMapListing(DiskMap::Index folder);
  void recordMapHardLinks(std::vector<DiskMap::HardLink>& links);
  // Entries accepted so far by the current map scan's MapChoices::counted (any thread).
  std::int64_t countedEntries() const { return _countedEntries.load(std::memory_order_relaxed); }
  void addCountedEntries(std::int64_t count) { _countedEntries.fetch_add(count, std::memory_order_relaxed); }
  // The map scanMap() is filling (null otherwise), and what it keeps.
  const std::shared_ptr<DiskMap>& map() const { return _map; }
  const MapChoices& mapChoices() const { return _mapChoices; }
  bool hasProgressHandler() const { return static_cast<bool>(_progressHandler); }
  std::uint64_t rootDevice() const { return _rootDevice.load(std::memory_order_acquire); }
  void setRootDevice(std::uint64_t device) { _rootDevice.store(device, std::memory_order_release); }
  // The scan root's path length, for paths below it.
  std::size_t rootPathLength() const { return _rootPathLength; }
  // The scan root's component count.
  std::size_t rootDepth() const { return _rootDepth; }

  // Nodes created by the current (or last) scan.
  std::int64_t filesScanned() const { return _filesScanned.load(std::memory_order_relaxed); }
  void addFilesScanned(std::int64_t count) { _filesScanned.fetch_add(count, std::memory_order_relaxed); }
  std::int32_t activeThreads() const { return _activeThreads.load(std::memory_order_relaxed); }
  // Set by scan(); read them from the traversal threads during a scan.
  const Settings& settings() const { return _settings; }
  bool buildTree() const { return _buildTree; }
  const std::vector<std::shared_ptr<FileCollector>>& collectors() const { return _collectors; }
  // The collectors' tests, asked once per scan, in collector order.
  const std::vector<FileCollector::Evaluator>& evaluators() const { return _evaluators; }
  platform::DirectoryReader& reader() const { return *_reader; }
  OperationQueue& operationQueue() { return _operationQueue; }

  // Tuning, before a scan: traversals running at once (default: the processor count) and
  // the fan-out rule (default onDemand).
  void setMaxConcurrentTraversals(int count);
  void setFanOut(FanOut rule) { _fanOut = rule; }
  FanOut fanOut() const { return _fanOut; }

 private:
  DiskScanner(ProgressHandler progressHandler, bool buildTree, std::shared_ptr<platform::DirectoryReader> reader);
  void startProgressTimer();
  // Resets the counters and settings for a scan of rootURL; answers its component count.
  std::size_t prepare(const FileURL& rootURL, bool searchBundles, std::optional<int> depthLimit);
  // Waits for the traversals and the progress timer; answers the seconds since start.
  double finishWalk(std::chrono::steady_clock::time_point start);
  // The records of the walk just ended, taken out of the scanner.
  DiskScanResult::Details takeDetails();
  void queueOperation(std::shared_ptr<Operation> operation);

  std::atomic<std::int32_t> _activeThreads{0};
  std::atomic<std::int32_t> _waitingOperations{0};
  int _maxConcurrentTraversals = 2;  // set before a scan
  std::vector<std::shared_ptr<FileCollector>> _collectors;  // set by scan() before traversals start
  std::vector<FileCollector::Evaluator> _evaluators;       // likewise
  Settings _settings;                                      // likewise
  bool _buildTree;                                         // likewise
  FanOut _fanOut = FanOut::onDemand;                       // set before a scan
  std::atomic<std::int64_t> _filesScanned{0};
  std::atomic<std::int64_t> _countedEntries{0};
  OperationQueue _operationQueue;
  ProgressHandler _progressHandler;
  std::shared_ptr<internal::Heartbeat> _progressTimer;  // touched by scan() only
  std::atomic<bool> _isCancelled{false};
  std::shared_ptr<platform::DirectoryReader> _reader;
  WalkOptions _walkOptions;  // set before a scan
  std::size_t _rootPathLength = 0;  // set by scan() before traversals start
  std::size_t _rootDepth = 0;       // likewise
  std::atomic<std::uint64_t> _rootDevice{0};
  std::atomic<std::int64_t> _totalSize{0};
  std::atomic<std::int64_t> _totalUsage{0};
  mutable std::mutex _recordMutex;
  std::vector<DiskScanResult::UnreadableEntry> _unreadable;  // guarded by _recordMutex
  std::vector<DiskScanResult::HardLink> _hardLinks;          // guarded by _recordMutex
  std::shared_ptr<FileNode> _currentFolder;                  // guarded by _recordMutex
  std::optional<DiskMap::Index> _currentMapFolder;           // likewise
  std::vector<DiskMap::HardLink> _mapHardLinks;              // likewise
  std::shared_ptr<DiskMap> _map;  // set by scanMap() before traversals start
  MapChoices _mapChoices;         // likewise
};

}  // namespace vantelkit
