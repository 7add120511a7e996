// The outcome of one disk scan: its root, the wall-clock time it took, how many nodes it
// created, the bytes it found, and the entries it could not read.
// Thread safety: immutable; share freely (the root's tree is final once the result exists,
// unless the scan was cancelled and stragglers are still running).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vantelkit/scanning/FileNode.h"

namespace vantelkit {

class DiskScanResult {
 public:
  // An entry the scan could not read: a folder it could not list (or only in part), or an
  // entry whose status it could not read.
  struct UnreadableEntry {
    std::string path;
    int error = 0;  // the system's error number
    bool isDirectory = false;
    // The system's text for error ("Permission denied").
    std::string reason() const;
    bool operator==(const UnreadableEntry&) const = default;
  };

  // A regular file with several links, as the scan met it.
  struct HardLink {
    std::shared_ptr<FileNode> node;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint32_t linkCount = 0;
  };

  // What a scan found beyond its tree.
  struct Details {
    // Logical and allocated bytes of the regular files found (a further link to a file
    // already counted is left out when the scan counts links once).
    std::int64_t totalSize = 0;
    std::int64_t totalUsage = 0;
    // Sorted by path.
    std::vector<UnreadableEntry> unreadable;
    // Sorted by device, inode and path.
    std::vector<HardLink> hardLinks;
    bool hardLinksCountedOnce = false;
    // False when the scan was cancelled before it had walked everything.
    bool complete = true;
  };

  DiskScanResult(std::shared_ptr<FileNode> root, double elapsed, std::int64_t filesScanned);
  DiskScanResult(std::shared_ptr<FileNode> root, double elapsed, std::int64_t filesScanned, Details details);

  // The scan root; with a built tree, the whole tree with summed directory sizes.
  const std::shared_ptr<FileNode>& root() const { return _root; }
  // Seconds from the start of the scan to the end of its last traversal.
  double elapsed() const { return _elapsed; }
  // Nodes created (files and directories; the root not counted).
  std::int64_t totalFilesScanned() const { return _totalFilesScanned; }

  std::int64_t totalSize() const { return _details.totalSize; }
  std::int64_t totalUsage() const { return _details.totalUsage; }
  // Entries that could not be read, sorted by path. An unreadable folder still has its
  // (empty, or partly listed) node in the tree.
  const std::vector<UnreadableEntry>& unreadableEntries() const { return _details.unreadable; }
  std::size_t unreadableCount() const { return _details.unreadable.size(); }
  const std::vector<HardLink>& hardLinks() const { return _details.hardLinks; }
  bool hardLinksCountedOnce() const { return _details.hardLinksCountedOnce; }
  bool isComplete() const { return _details.complete; }

 private:
  std::shared_ptr<FileNode> _root;
  double _elapsed;
  std::int64_t _totalFilesScanned;
  Details _details;
};

}  // namespace vantelkit
