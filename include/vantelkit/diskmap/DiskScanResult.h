// The outcome of one disk scan: its root, the wall-clock time it took and how many nodes
// it created. Thread safety: immutable; share freely (the root's tree is final once the
// result exists, unless the scan was cancelled and stragglers are still running).
#pragma once

#include <cstdint>
#include <memory>

#include "vantelkit/scanning/FileNode.h"

namespace vantelkit {

class DiskScanResult {
 public:
  DiskScanResult(std::shared_ptr<FileNode> root, double elapsed, std::int64_t filesScanned)
      : _root(std::move(root)), _elapsed(elapsed), _totalFilesScanned(filesScanned) {}

  // The scan root; with a built tree, the whole tree with summed directory sizes.
  const std::shared_ptr<FileNode>& root() const { return _root; }
  // Seconds from the start of the scan to the end of its last traversal.
  double elapsed() const { return _elapsed; }
  // Nodes created (files and directories; the root not counted).
  std::int64_t totalFilesScanned() const { return _totalFilesScanned; }

 private:
  std::shared_ptr<FileNode> _root;
  double _elapsed;
  std::int64_t _totalFilesScanned;
};

}  // namespace vantelkit
