#include "vantelkit/scanning/ScanOperation.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "vantelkit/foundation/Logging.h"
#include "vantelkit/platform/FileStatus.h"
#include "scanning/internal/DiskScanRun.h"
#include "scanning/internal/FolderWalk.h"

namespace vantelkit {

namespace {

using Node = std::shared_ptr<FileNode>;
using platform::DirectoryReader;

// Builds FileNode trees: a node for each entry, children kept when the scan builds a tree,
// each listing offered to the scanner's collectors.
class NodeBuilder {
 public:
  // Nodes are files and folders only.
  static constexpr bool keepsEveryType = false;
  using Folder = Node;

  explicit NodeBuilder(internal::DiskScanRun& run) : _run(run), _countOnly(!run.buildTree && run.collectors.empty()) {}

  std::string path(const Folder& folder) const { return folder->url().path(); }
  std::string_view name(const Folder& folder) const { return folder->name(); }
  bool isChildOf(const Folder& folder, const Folder& parent) const { return folder->parent() == parent; }
  void noteListing(const Folder& folder) { _run.noteListing(folder); }
  void mark(const Folder& folder, FileNode::Mark mark) { folder->addMark(mark); }
  void setError(const Folder& folder, int error) { folder->setError(error); }
  std::size_t listingSize() const { return _listed.size() + _counted; }

  void beginListing(const Folder& folder) {
    _urls.emplace(folder->url());
    _parent = folder;
    _nodes.clear();
    _hardLinks.clear();
    _counted = 0;
  }

  void addEntry(const DirectoryReader::Entry& entry, bool isDirectory) {
    if (_countOnly && !isDirectory && !(entry.linkCount > 1 && entry.error == 0)) {
      // Nobody will see this file's node: a scan that keeps no tree and offers to no
      // collector only counts it (its bytes are in the listing's totals).
      ++_counted;
      return;
    }
    if (isDirectory) {
      _nodes.push_back(FileNode::make(_urls->make(entry.name, true), _parent, 0, FileNode::NodeType::directory));
    } else {
      auto node = FileNode::make(_urls->make(entry.name, false), _parent, entry.size, FileNode::NodeType::file);
      node->setUsage(entry.usage);
      if (entry.linkCount > 1 && entry.error == 0) {
        node->addMark(FileNode::hardLink);
        _hardLinks.push_back({node, entry.device, entry.inode, entry.linkCount});
      }
      _nodes.push_back(std::move(node));
    }
    if (entry.error != 0) _nodes.back()->setError(entry.error);
  }

  void clearListing() {
    _nodes.clear();
    _hardLinks.clear();
    _counted = 0;
  }

  bool commitListing(const Folder& parent, std::int64_t fileBytes, std::int64_t fileUsage,
                     std::vector<internal::Subfolder<Folder>>& subfolders) {
    if (!_hardLinks.empty()) _run.recordHardLinks(_hardLinks);
    _listed = std::span<const Node>(_nodes);
    if (_run.buildTree) {
      // Moved into a vector of exactly the right size: a tree keeps no spare capacity.
      std::vector<Node> children;
      children.reserve(_nodes.size());
      for (auto& node : _nodes) children.push_back(std::move(node));
      parent->setChildren(std::move(children));
      _listed = parent->children();
      if (fileBytes != 0 || fileUsage != 0) {
        parent->addSize(fileBytes);
        parent->addUsage(fileUsage);
        for (auto ancestor = parent->parent(); ancestor; ancestor = ancestor->parent()) {
          ancestor->addSize(fileBytes);
          ancestor->addUsage(fileUsage);
        }
      }
    }
    // Each node goes to every collector in list order and is counted before the next node,
    // so a collector's test or callback sees the others and the count as they stand at that
    // node (one uncontended lock per collector and node).
    const auto& collectors = _run.collectors;
    const auto& evaluators = _run.evaluators;
    if (collectors.empty()) {
      _run.addFilesScanned(static_cast<std::int64_t>(_listed.size() + _counted));
    } else {
      for (std::size_t n = 0; n < _listed.size(); ++n) {
        for (std::size_t i = 0; i < collectors.size(); ++i) collectors[i]->offer(_listed.subspan(n, 1), evaluators[i]);
        _run.addFilesScanned(1);
      }
    }
    for (const auto& node : _listed) {
      if (node->type() == FileNode::NodeType::directory)
        subfolders.push_back({node, node->name(), node->hasMark(FileNode::unreadable)});
    }
    return true;
  }

  void queue(const Folder& folder, std::size_t depth) { _run.addOperation(folder, depth, true); }

 private:
  internal::DiskScanRun& _run;
  const bool _countOnly;
  std::size_t _counted = 0;  // files of the listing counted without a node
  std::optional<FileURLBuilder> _urls;
  Node _parent;
  std::vector<Node> _nodes;
  std::span<const Node> _listed;
  std::vector<DiskScanResult::HardLink> _hardLinks;
};
static_assert(internal::FolderBuilder<NodeBuilder>);

}  // namespace

ScanOperation::ScanOperation(std::shared_ptr<internal::DiskScanRun> run, std::shared_ptr<FileNode> node,
                             std::size_t depth)
    : _run(std::move(run)), _node(std::move(node)), _depth(depth) {
  setQualityOfService(QualityOfService::userInitiated);
}

ScanOperation::~ScanOperation() = default;

void ScanOperation::main() {
  _started = true;
  _run->operationDidStartOrDrop();
  traverse(_node, _depth);
}

void ScanOperation::operationDidFinish() {
  // A dropped operation (cancelled before it started) still leaves the waiting count.
  if (!_started) _run->operationDidStartOrDrop();
  _run->releaseTraversalSlot();
}

void ScanOperation::traverse(const std::shared_ptr<FileNode>& start, std::size_t startDepth) {
  NodeBuilder builder(*_run);
  internal::walkFolders(*_run, builder, start, startDepth, true);
}

}  // namespace vantelkit
