#include "vantelkit/scanning/ScanOperation.h"

#include <span>
#include <string_view>
#include <utility>

#include "vantelkit/diskmap/DiskScanner.h"
#include "vantelkit/foundation/Logging.h"

namespace vantelkit {

namespace {

using Node = std::shared_ptr<FileNode>;
using platform::DirectoryReader;
using platform::FileObjectType;

bool isBundleName(std::string_view name) {
  std::string_view tail = name.size() > 4 ? name.substr(name.size() - 4) : name;
  for (auto suffix : DiskScanner::bundleSuffixes)
    if (tail == suffix) return true;
  return false;
}

// Turns the entries of one listing into nodes of parent.
class NodeMaker final : public DirectoryReader::Visitor {
 public:
  NodeMaker(const Node& parent, std::vector<Node>& nodes)
      : _parent(parent), _urls(parent->url()), _nodes(nodes) {}

  void visit(const DirectoryReader::Entry& entry) override {
    if (entry.name.empty()) {
      LogDebug("Encountered an unknown file");
      return;
    }
    if (entry.type == FileObjectType::file) {
      _nodes.push_back(FileNode::make(_urls.make(entry.name, false), _parent, entry.size, FileNode::NodeType::file));
      fileBytes += entry.size;
    } else if (entry.type == FileObjectType::directory) {
      _nodes.push_back(FileNode::make(_urls.make(entry.name, true), _parent, 0, FileNode::NodeType::directory));
    }
    // Links, devices, pipes and sockets get no node; links are so never followed.
  }

  std::int64_t fileBytes = 0;

 private:
  const Node& _parent;
  FileURLBuilder _urls;
  std::vector<Node>& _nodes;
};

}  // namespace

ScanOperation::ScanOperation(std::shared_ptr<DiskScanner> scanner, std::shared_ptr<FileNode> node, std::size_t depth)
    : _scanner(std::move(scanner)), _node(std::move(node)), _depth(depth) {
  setQualityOfService(QualityOfService::userInitiated);
}

ScanOperation::~ScanOperation() = default;

void ScanOperation::main() { traverse(_node, _depth); }

void ScanOperation::operationDidFinish() { _scanner->releaseTraversalSlot(); }

void ScanOperation::traverse(const std::shared_ptr<FileNode>& start, std::size_t startDepth) {
  DiskScanner& scanner = *_scanner;
  const auto& settings = scanner.settings();
  const bool buildTree = scanner.buildTree();
  const auto& collectors = scanner.collectors();
  const auto& evaluators = scanner.evaluators();
  const bool wideParentsOnly = scanner.fanOut() == DiskScanner::FanOut::wideParentsOnly;

  // Directories still to be listed by this operation, deepest-first; popping from the back
  // walks them depth-first in listing order without recursion, whatever the tree's depth.
  std::vector<std::pair<Node, std::size_t>> pending;
  pending.emplace_back(start, startDepth);
  std::vector<Node> nodes;
  std::vector<std::pair<Node, std::size_t>> inlineDescents;

  while (!pending.empty()) {
    auto [parent, depth] = std::move(pending.back());
    pending.pop_back();
    if (scanner.isCancelled() && parent != _node) break;

    nodes.clear();
    NodeMaker maker(parent, nodes);
    // The scan root is opened as given (a link to a folder is followed); below it, never.
    bool followLink = !parent->parent();
    scanner.reader().list(parent->url().path(), followLink, maker);

    if (buildTree) {
      parent->setChildren(std::vector<Node>(nodes.begin(), nodes.end()));
      if (maker.fileBytes != 0) {
        parent->addSize(maker.fileBytes);
        for (auto ancestor = parent->parent(); ancestor; ancestor = ancestor->parent())
          ancestor->addSize(maker.fileBytes);
      }
    }
    for (std::size_t i = 0; i < collectors.size(); ++i)
      collectors[i]->offer(std::span<const Node>(nodes), evaluators[i]);
    scanner.addFilesScanned(static_cast<std::int64_t>(nodes.size()));

    // Decide about each subdirectory: queue it while a traversal slot is free, else walk it
    // inline here. Queued ones are handed over before any inline walk starts.
    const std::size_t childDepth = depth + 1;
    const bool mayFanOut = !wideParentsOnly || nodes.size() > DiskScanner::inlineEntryLimit;
    inlineDescents.clear();
    for (auto& node : nodes) {
      if (node->type() != FileNode::NodeType::directory) continue;
      if (settings.maxDepth && childDepth >= *settings.maxDepth) continue;
      if (!settings.searchBundles && isBundleName(node->name())) continue;
      if (mayFanOut && scanner.reserveTraversalSlot()) {
        scanner.addOperation(node, childDepth, true);
      } else {
        inlineDescents.emplace_back(std::move(node), childDepth);
      }
    }
    for (auto it = inlineDescents.rbegin(); it != inlineDescents.rend(); ++it) pending.push_back(std::move(*it));
  }
}

}  // namespace vantelkit
