// One unit of a parallel scan: lists one directory, turns its regular files and directories
// into nodes, offers them to the scanner's collectors, and descends into subdirectories,
// inline or by queueing new operations on its scanner.
// Thread safety: made and queued by a DiskScanner; runs once on one queue thread.
#pragma once

#include <cstddef>
#include <memory>

#include "vantelkit/foundation/Operation.h"
#include "vantelkit/scanning/FileNode.h"

namespace vantelkit {

class DiskScanner;

class ScanOperation final : public Operation {
 public:
  // depth is the number of path components of node's URL.
  ScanOperation(std::shared_ptr<DiskScanner> scanner, std::shared_ptr<FileNode> node, std::size_t depth);
  ~ScanOperation() override;

  const std::shared_ptr<DiskScanner>& scanner() const { return _scanner; }
  const std::shared_ptr<FileNode>& node() const { return _node; }

  // Runs traverse() on node.
  void main() override;
  // Lists parent (a directory node at the given depth), then descends: queued subdirectories
  // first, then the inline ones, in listing order. The listing's directory is closed before
  // any descent, so one traversal holds at most one open directory.
  void traverse(const std::shared_ptr<FileNode>& parent, std::size_t depth);

 protected:
  void operationDidFinish() override;

 private:
  std::shared_ptr<DiskScanner> _scanner;
  std::shared_ptr<FileNode> _node;
  std::size_t _depth;
};

}  // namespace vantelkit
