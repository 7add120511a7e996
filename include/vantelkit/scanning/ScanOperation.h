// One unit of a parallel scan: lists one directory, turns its regular files and directories
// into nodes, offers them to the scanner's collectors, and descends into subdirectories,
// inline or by queueing new operations on its scanner's queue.
// Thread safety: made and queued by a DiskScanner; runs once on one queue thread.
#pragma once

#include <cstddef>
#include <memory>

#include "vantelkit/foundation/Operation.h"
#include "vantelkit/scanning/FileNode.h"

namespace vantelkit {

namespace internal {
class DiskScanRun;
}

class ScanOperation final : public Operation {
 public:
  // depth is the number of path components of node's URL.
  // run: the traversal state of the scanner that queues it.
  ScanOperation(std::shared_ptr<internal::DiskScanRun> run, std::shared_ptr<FileNode> node, std::size_t depth);
  ~ScanOperation() override;

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
  std::shared_ptr<internal::DiskScanRun> _run;
  std::shared_ptr<FileNode> _node;
  std::size_t _depth;
  bool _started = false;  // main() ran (written and read on the operation's own thread)
};

}  // namespace vantelkit
