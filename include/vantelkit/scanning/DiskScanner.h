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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/scanning/DiskMap.h"
#include "vantelkit/scanning/DiskScanResult.h"
#include "vantelkit/platform/DirectoryReader.h"
#include "vantelkit/scanning/FileCollector.h"

namespace vantelkit {

namespace internal {
class DiskScanRun;
class Heartbeat;
}  // namespace internal

// What DiskScanner::scanMap() keeps.
struct DiskMapChoices {
  // False: only names and types are read (no status per file: much less work), and the
  // map's files have size 0.
  bool fileSizes = true;
  // When fileSizes is false: a file whose name this accepts is read with its status all the
  // same, so that the few files a caller needs the sizes of have them in the map. Asked on
  // the traversal threads.
  std::function<bool(std::string_view name)> statusWanted;
  // Each folder's children in the byte order of their names instead of listing order
  // (sorted by the traversals, in parallel).
  bool namesInOrder = false;
  // When set, asked of each entry as the traversals add it (on their threads; a folder's
  // size is still 0 then); DiskScanner::countedEntries() tells how many it accepted so far.
  std::function<bool(const DiskMap::Entry&)> counted;
  // When set, called once for each folder listed that holds anything, on the traversal's
  // thread, with the folder's index and the newest modification time among its entries
  // (whole seconds since 1970-01-01T00:00:00Z; 0 where the file system gave none). A listing
  // that could not be kept in the map is not reported.
  std::function<void(DiskMap::Index folder, std::int64_t newestModification)> listed;
};

// What one DiskScanner::scan() walks and keeps.
struct ScanRequest {
  // Every node made is offered to each, in this order.
  std::vector<std::shared_ptr<FileCollector>> collectors;
  // Link the nodes into a tree below the result's root, with summed folder sizes.
  bool buildTree = false;
  // Descend into bundles (folders named like DiskScanner::bundleSuffixes).
  bool searchBundles = false;
  // The directory levels that are listed, the root being 1 (0 acts as 1); none: all.
  std::optional<int> depthLimit;
};

// What one DiskScanner::scanMap() walks and keeps.
struct MapScanRequest {
  bool searchBundles = false;
  std::optional<int> depthLimit;  // as in ScanRequest
  DiskMapChoices choices;
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
    // FileNode::pseudoFileSystem), nor is a kernel file system (proc, sysfs, ...) mounted
    // anywhere below it, known by its type in the mount table. The scan root itself is
    // always listed.
    bool skipPseudoFileSystems = false;
    // Entries whose name, or whose path below the scan root, matches one of these shell
    // patterns get no node.
    std::vector<std::string> excludes;
    // Folders holding a valid CACHEDIR.TAG are not listed (marked FileNode::cacheFolder).
    bool excludeCaches = false;
    // Folders whose names start with "." below the scan root get no node or entry and are
    // not listed, so nothing inside them is seen either, as a file browser that hides them
    // shows the tree (hidden files are kept). The scan root is listed whatever its name.
    bool skipHiddenFolders = false;
    // A file with several links adds to the sums once per device and inode (the link with
    // the smallest path counts; the others are marked FileNode::duplicateLink).
    bool countHardLinksOnce = false;
    // The totals count every entry's own size, as du does: each folder's own (the root's
    // too) and those of links (never followed), devices, pipes and sockets, beside the
    // files'. Nodes and their sums stay those of files; a map always counts them all.
    bool countOwnSizes = false;
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

  using ScanRequest = vantelkit::ScanRequest;
  using MapRequest = vantelkit::MapScanRequest;

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

  // progressHandler: called with (0.0, false) about fifteen times a second while a scan
  // runs. reader: the directory listing service (DirectoryReader::shared() when null).
  static std::shared_ptr<DiskScanner> make(ProgressHandler progressHandler = {},
                                           std::shared_ptr<platform::DirectoryReader> reader = nullptr);
  ~DiskScanner();
  DiskScanner(const DiskScanner&) = delete;
  DiskScanner& operator=(const DiskScanner&) = delete;

  // Walks url and calls completion (on the calling thread) with the result before returning
  // it. A root that cannot be listed gives an empty root and 0 nodes.
  std::shared_ptr<DiskScanResult> scan(const FileURL& url, ScanRequest request, const Completion& completion = {});

  using MapChoices = DiskMapChoices;
  // Walks url as scan() does when it builds a tree, into a compact DiskMap instead of
  // FileNodes (no collectors; the walk options apply as they do to scan()). Blocks until the
  // walk has ended; cancel() gives the partial map.
  std::shared_ptr<DiskMap> scanMap(const FileURL& url, MapRequest request = {});

  // Stops the scan: no further traversal is queued, queued ones are dropped, running ones
  // end after their current listing. scan() then returns the partial result, and the
  // scanner is ready for another scan.
  void cancel();
  bool isCancelled() const;

  // Sorts links by device, inode and path; then marks every link after the first of each
  // file FileNode::duplicateLink and takes it out of size, usage and (when inTree) the sizes
  // of its ancestors.
  static void countHardLinksOnce(std::vector<DiskScanResult::HardLink>& links, std::int64_t& size,
                                 std::int64_t& usage, bool inTree);

  // Choices of the walk, before a scan; kept across scans.
  void setWalkOptions(WalkOptions options);
  const WalkOptions& walkOptions() const;
  // Tuning, before a scan: traversals running at once (default: the processor count) and
  // the fan-out rule (default onDemand).
  void setMaxConcurrentTraversals(int count);
  void setFanOut(FanOut rule);
  FanOut fanOut() const;

  // Progress of the current scan, from any thread.
  // Bytes of regular files found so far.
  std::int64_t sizeSoFar() const;
  // The folder listed most recently, while a progress handler is set.
  std::string currentFolder() const;
  // Nodes created by the current (or last) scan.
  std::int64_t filesScanned() const;
  // Entries accepted so far by the current map scan's MapChoices::counted.
  std::int64_t countedEntries() const;
  // Traversals counted active, and queued ones not started yet (both 0 between scans).
  std::int32_t activeThreads() const;
  std::int32_t waitingOperations() const;

 private:
  DiskScanner(ProgressHandler progressHandler, std::shared_ptr<platform::DirectoryReader> reader);
  void startProgressTimer();
  // Resets the run for a scan of rootURL; answers its component count.
  std::size_t prepare(const FileURL& rootURL, bool searchBundles, std::optional<int> depthLimit);
  // Waits for the traversals and the progress timer; answers the seconds since start.
  double finishWalk(std::chrono::steady_clock::time_point start);

  ProgressHandler _progressHandler;
  std::shared_ptr<internal::Heartbeat> _progressTimer;  // touched by scan() only
  std::shared_ptr<internal::DiskScanRun> _run;
};

}  // namespace vantelkit
