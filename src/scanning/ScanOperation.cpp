#include "vantelkit/scanning/ScanOperation.h"

#include <algorithm>
#include <span>
#include <string_view>
#include <utility>

#include "vantelkit/diskmap/DiskScanner.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/platform/FileStatus.h"

namespace vantelkit {

namespace {

using Node = std::shared_ptr<FileNode>;
using platform::DirectoryReader;
using platform::FileObjectType;

constexpr std::string_view kCacheTagName = "CACHEDIR.TAG";
constexpr std::string_view kCacheTagSignature = "Signature: 8a477f597d28d172789f06886806bc55";
constexpr int kNoSuchEntry = 2;  // ENOENT: gone since it was seen; nothing to report

// Turns the entries of one listing into nodes of parent, and notes what could not be read.
class NodeMaker final : public DirectoryReader::Visitor {
 public:
  NodeMaker(const Node& parent, std::vector<Node>& nodes, DiskScanner& scanner, bool isRoot)
      : _parent(parent), _urls(parent->url()), _nodes(nodes), _scanner(scanner),
        _options(scanner.walkOptions()), _isRoot(isRoot) {}

  bool wantsDirectoryDevice() const override { return _options.oneFileSystem; }

  bool enterDirectory(std::uint64_t device) override {
    if (_isRoot) {
      _scanner.setRootDevice(device);
      return true;
    }
    if (device == _scanner.rootDevice()) return true;
    _parent->addMark(FileNode::otherFileSystem);
    return false;
  }

  void failed(int error) override { listingError = error; }

  void visit(const DirectoryReader::Entry& entry) override {
    if (entry.name.empty()) {
      LogDebug("Encountered an unknown file");
      return;
    }
    bool isFile = entry.type == FileObjectType::file;
    bool isDirectory = entry.type == FileObjectType::directory;
    // An entry whose status could not be read keeps a node (as a file unless the listing
    // said directory), marked with the reason.
    if (entry.error != 0 && entry.type == FileObjectType::unknown) isFile = true;
    if (!isFile && !isDirectory) return;  // links, devices, pipes and sockets: never followed
    if (!_options.excludes.empty() && isExcluded(entry.name)) return;

    if (isFile) {
      auto node = FileNode::make(_urls.make(entry.name, false), _parent, entry.size, FileNode::NodeType::file);
      node->setUsage(entry.usage);
      fileBytes += entry.size;
      fileUsage += entry.usage;
      if (entry.linkCount > 1 && entry.error == 0) {
        node->addMark(FileNode::hardLink);
        hardLinks.push_back({node, entry.device, entry.inode, entry.linkCount});
      }
      if (_options.excludeCaches && entry.error == 0 && entry.name == kCacheTagName &&
          platform::fileStartsWith(node->url().path(), kCacheTagSignature))
        holdsCacheTag = true;
      _nodes.push_back(std::move(node));
    } else {
      _nodes.push_back(FileNode::make(_urls.make(entry.name, true), _parent, 0, FileNode::NodeType::directory));
    }
    if (entry.error != 0) {
      _nodes.back()->setError(entry.error);
      unreadable.push_back({_nodes.back()->url().path(), entry.error, isDirectory});
    }
  }

  std::int64_t fileBytes = 0;
  std::int64_t fileUsage = 0;
  int listingError = 0;
  bool holdsCacheTag = false;
  std::vector<DiskScanResult::UnreadableEntry> unreadable;
  std::vector<DiskScanResult::HardLink> hardLinks;

 private:
  bool isExcluded(std::string_view name) const {
    std::string text(name);
    for (const auto& pattern : _options.excludes)
      if (platform::globMatches(pattern, text)) return true;
    // The path below the scan root, for patterns with a "/".
    const std::string& directory = _urls.directoryPath();
    std::size_t skip = std::min(directory.size(), _scanner.rootPathLength() + 1);
    std::string below = directory.size() > _scanner.rootPathLength() ? directory.substr(skip) + "/" + text : text;
    if (below == text) return false;
    for (const auto& pattern : _options.excludes)
      if (platform::globMatches(pattern, below)) return true;
    return false;
  }

  const Node& _parent;
  FileURLBuilder _urls;
  std::vector<Node>& _nodes;
  DiskScanner& _scanner;
  const DiskScanner::WalkOptions& _options;
  bool _isRoot;
};

}  // namespace

ScanOperation::ScanOperation(std::shared_ptr<DiskScanner> scanner, std::shared_ptr<FileNode> node, std::size_t depth)
    : _scanner(std::move(scanner)), _node(std::move(node)), _depth(depth) {
  setQualityOfService(QualityOfService::userInitiated);
}

ScanOperation::~ScanOperation() = default;

void ScanOperation::main() {
  _started = true;
  _scanner->operationDidStartOrDrop();
  traverse(_node, _depth);
}

void ScanOperation::operationDidFinish() {
  // A dropped operation (cancelled before it started) still leaves the waiting count.
  if (!_started) _scanner->operationDidStartOrDrop();
  _scanner->releaseTraversalSlot();
}

void ScanOperation::traverse(const std::shared_ptr<FileNode>& start, std::size_t startDepth) {
  DiskScanner& scanner = *_scanner;
  const auto& settings = scanner.settings();
  const bool buildTree = scanner.buildTree();
  const auto& collectors = scanner.collectors();
  const auto& evaluators = scanner.evaluators();
  const auto fanOut = scanner.fanOut();
  const int threads = scanner.maxConcurrentTraversals();

  // Directories still to be listed by this operation, deepest-first; popping from the back
  // walks them depth-first in listing order without recursion, whatever the tree's depth.
  std::vector<std::pair<Node, std::size_t>> pending;
  pending.emplace_back(start, startDepth);
  std::vector<Node> nodes;
  std::vector<std::pair<Node, std::size_t>> inlineDescents;
  std::vector<Node> descents;
  // The directory listed last, kept open while its first inline subdirectory (listed next)
  // is opened through it: a chain of folders then costs one short open per level instead of
  // resolving an ever longer path.
  std::unique_ptr<DirectoryReader::Held> held;
  Node heldNode;

  while (!pending.empty()) {
    Node parent = std::move(pending.back().first);
    const std::size_t depth = pending.back().second;
    pending.pop_back();
    if (scanner.isCancelled() && parent != _node) break;

    nodes.clear();
    // The scan root is opened as given (a link to a folder is followed); below it, never.
    bool isRoot = depth == scanner.rootDepth();
    NodeMaker maker(parent, nodes, scanner, isRoot);
    if (scanner.hasProgressHandler()) scanner.noteListing(parent);
    std::unique_ptr<DirectoryReader::Held> kept;
    DirectoryReader::Status status;
    if (held && heldNode && parent->parent() == heldNode) {
      status = scanner.reader().listSubdirectory(
          std::move(held), parent->name(), [&parent] { return parent->url().path(); }, maker, kept);
    } else {
      held.reset();
      status = scanner.reader().listKeeping(parent->url().path(), isRoot, maker, kept);
    }
    held = std::move(kept);
    heldNode = held ? parent : nullptr;
    if (status != DirectoryReader::Status::complete && maker.listingError != kNoSuchEntry) {
      int error = maker.listingError != 0 ? maker.listingError : 5;  // EIO when the reader gave none
      parent->setError(error);
      maker.unreadable.push_back({parent->url().path(), error, true});
    }
    if (maker.holdsCacheTag) {
      // A cache folder: its contents are left out as if it had not been listed.
      nodes.clear();
      maker.fileBytes = maker.fileUsage = 0;
      maker.unreadable.clear();
      maker.hardLinks.clear();
      parent->addMark(FileNode::cacheFolder);
    }
    if (!maker.unreadable.empty()) scanner.recordUnreadable(maker.unreadable);
    if (!maker.hardLinks.empty()) scanner.recordHardLinks(maker.hardLinks);
    if (maker.fileBytes != 0 || maker.fileUsage != 0) scanner.addTotals(maker.fileBytes, maker.fileUsage);

    std::span<const Node> listed(nodes);
    if (buildTree) {
      // Moved into a vector of exactly the right size: a tree keeps no spare capacity.
      std::vector<Node> children;
      children.reserve(nodes.size());
      for (auto& node : nodes) children.push_back(std::move(node));
      parent->setChildren(std::move(children));
      listed = parent->children();
      if (maker.fileBytes != 0 || maker.fileUsage != 0) {
        parent->addSize(maker.fileBytes);
        parent->addUsage(maker.fileUsage);
        for (auto ancestor = parent->parent(); ancestor; ancestor = ancestor->parent()) {
          ancestor->addSize(maker.fileBytes);
          ancestor->addUsage(maker.fileUsage);
        }
      }
    }
    // Each node goes to every collector in list order and is counted before the next node,
    // so a collector's test or callback sees the others and the count as they stand at that
    // node (one uncontended lock per collector and node).
    if (collectors.empty()) {
      scanner.addFilesScanned(static_cast<std::int64_t>(listed.size()));
    } else {
      for (std::size_t n = 0; n < listed.size(); ++n) {
        for (std::size_t i = 0; i < collectors.size(); ++i) collectors[i]->offer(listed.subspan(n, 1), evaluators[i]);
        scanner.addFilesScanned(1);
      }
    }

    // Decide about each subdirectory: queue it while a traversal slot is free, else walk it
    // inline here. Queued ones are handed over before any inline walk starts.
    const std::size_t childDepth = depth + 1;
    const bool wide = listed.size() > DiskScanner::inlineEntryLimit;
    inlineDescents.clear();
    descents.clear();
    for (const auto& node : listed) {
      if (node->type() != FileNode::NodeType::directory) continue;
      if (settings.maxDepth && childDepth >= *settings.maxDepth) continue;
      if (!settings.searchBundles && DiskScanner::isBundleName(node->name())) continue;
      if (node->hasMark(FileNode::unreadable)) continue;  // its status could not be read
      if (childDepth == 2 && scanner.walkOptions().skipPseudoFileSystems) {
        // A child of "/": the scan started at "/" (the root itself is always listed).
        const auto& paths = DiskScanner::pseudoFileSystemPaths;
        std::string path = "/" + node->name();
        if (std::find(paths.begin(), paths.end(), path) != paths.end()) {
          node->addMark(FileNode::pseudoFileSystem);
          continue;
        }
      }
      descents.push_back(node);
    }
    for (std::size_t i = 0; i < descents.size(); ++i) {
      const Node& node = descents[i];
      // The last subdirectory stays here when this operation has nothing else left: queueing
      // it would only hand the walk to another thread (and reopen its whole path there).
      if (i + 1 == descents.size() && inlineDescents.empty() && pending.empty()) {
        inlineDescents.emplace_back(node, childDepth);
        break;
      }
      bool mayFanOut = fanOut == DiskScanner::FanOut::whileSlotsFree ||
                       (fanOut == DiskScanner::FanOut::wideParentsOnly && wide) ||
                       (fanOut == DiskScanner::FanOut::onDemand && scanner.waitingOperations() < threads);
      if (mayFanOut && scanner.reserveTraversalSlot()) {
        scanner.addOperation(node, childDepth, true);
      } else {
        inlineDescents.emplace_back(node, childDepth);
      }
    }
    for (auto it = inlineDescents.rbegin(); it != inlineDescents.rend(); ++it) pending.push_back(std::move(*it));
  }
}

}  // namespace vantelkit
