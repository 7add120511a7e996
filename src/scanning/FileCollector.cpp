#include "vantelkit/scanning/FileCollector.h"

#include <string_view>

#include "vantelkit/scanning/FileCollectorOptions.h"

namespace vantelkit {

namespace {
using Node = std::shared_ptr<FileNode>;
using NodeType = FileNode::NodeType;

bool hasExtension(const Node& node, std::string_view extension) {
  const std::string& name = node->name();
  // The extension is the text after the last "." (a leading dot starts none).
  auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  return std::string_view(name).substr(dot + 1) == extension;
}

bool isUnderAttachments(const FileURL& url) {
  constexpr std::string_view component = "Attachments";
  if (url.lastPathComponent() == component) return true;
  std::string path = url.path();
  std::size_t from = 0;
  while ((from = path.find(component, from)) != std::string::npos) {
    bool startsComponent = from > 0 && path[from - 1] == '/';
    std::size_t end = from + component.size();
    bool endsComponent = end == path.size() || path[end] == '/';
    if (startsComponent && endsComponent) return true;
    from = end;
  }
  return false;
}
}  // namespace

std::string FileCollector::identifier() const { return "filesAndDirectories"; }

FileCollector::Evaluator FileCollector::evaluator() {
  return [](const Node&) { return true; };
}

bool FileCollector::offer(const Node& node) {
  std::lock_guard lock(_mutex);
  auto test = evaluator();
  if (!test || !test(node)) return false;
  _files.push_back(node);
  if (_didCollectFileCallback) _didCollectFileCallback(_files);
  return true;
}

void FileCollector::offer(std::span<const Node> nodes, const Evaluator& test) {
  if (nodes.empty() || !test) return;
  std::lock_guard lock(_mutex);
  for (const auto& node : nodes) {
    if (!test(node)) continue;
    _files.push_back(node);
    if (_didCollectFileCallback) _didCollectFileCallback(_files);
  }
}

std::vector<Node> FileCollector::files() const {
  std::lock_guard lock(_mutex);
  return _files;
}

std::size_t FileCollector::fileCount() const {
  std::lock_guard lock(_mutex);
  return _files.size();
}

void FileCollector::setDidCollectFileCallback(DidCollectFileCallback callback) {
  std::lock_guard lock(_mutex);
  _didCollectFileCallback = std::move(callback);
}

FileCollector::Evaluator NonDirectoryCollector::evaluator() {
  return [](const Node& node) { return node->type() != NodeType::directory; };
}

FileCollector::Evaluator DirectoryCollector::evaluator() {
  return [](const Node& node) { return node->type() == NodeType::directory; };
}

FileCollector::Evaluator NonDSStoreFileCollector::evaluator() {
  return [](const Node& node) { return node->type() != NodeType::directory && node->name() != ".DS_Store"; };
}

FileCollector::Evaluator PackageCollector::evaluator() {
  return [](const Node& node) { return hasExtension(node, "pkg"); };
}

FileCollector::Evaluator DiskImageCollector::evaluator() {
  return [](const Node& node) { return hasExtension(node, "dmg"); };
}

FileCollector::Evaluator XcodeArchiveCollector::evaluator() {
  return [](const Node& node) { return hasExtension(node, "xcarchive"); };
}

FileCollector::Evaluator ApplicationCollector::evaluator() {
  return [](const Node& node) { return hasExtension(node, "app"); };
}

FileCollector::Evaluator MailAttachmentCollector::evaluator() {
  return [](const Node& node) {
    return node->type() != NodeType::directory && node->name() != ".DS_Store" && isUnderAttachments(node->url());
  };
}

FileCollector::Evaluator SizeCollector::evaluator() {
  std::weak_ptr<FileCollector> weak = weak_from_this();
  return [weak](const Node& node) {
    auto self = std::static_pointer_cast<SizeCollector>(weak.lock());
    if (self) self->_totalSize.fetch_add(node->size(), std::memory_order_relaxed);
    return false;
  };
}

SearchFileCollector::SearchFileCollector(std::vector<Evaluator> evaluators) : _evaluators(std::move(evaluators)) {}

FileCollector::Evaluator SearchFileCollector::evaluator() {
  std::weak_ptr<FileCollector> weak = weak_from_this();
  return [weak](const Node& node) {
    auto self = std::static_pointer_cast<SearchFileCollector>(weak.lock());
    if (!self) return false;
    self->_evaluatedCount.fetch_add(1, std::memory_order_relaxed);
    for (const auto& test : self->_evaluators)
      if (!test || !test(node)) return false;
    return true;
  };
}

std::optional<FileCollectorOptions> fileCollectorOptionsFromRawValue(std::string_view raw) {
  for (auto option : {FileCollectorOptions::files, FileCollectorOptions::filesIgnoringDsStore,
                      FileCollectorOptions::directories, FileCollectorOptions::filesAndDirectories,
                      FileCollectorOptions::packages, FileCollectorOptions::diskImages,
                      FileCollectorOptions::xcodeArchives})
    if (rawValue(option) == raw) return option;
  return std::nullopt;
}

std::string_view rawValue(FileCollectorOptions option) {
  switch (option) {
    case FileCollectorOptions::files: return "files";
    case FileCollectorOptions::filesIgnoringDsStore: return "filesIgnoringDsStore";
    case FileCollectorOptions::directories: return "directories";
    case FileCollectorOptions::filesAndDirectories: return "filesAndDirectories";
    case FileCollectorOptions::packages: return "packages";
    case FileCollectorOptions::diskImages: return "diskImages";
    case FileCollectorOptions::xcodeArchives: return "xcodeArchives";
  }
  return "";
}

std::shared_ptr<FileCollector> makeCollector(FileCollectorOptions option) {
  switch (option) {
    case FileCollectorOptions::files: return std::make_shared<NonDirectoryCollector>();
    case FileCollectorOptions::filesIgnoringDsStore: return std::make_shared<NonDSStoreFileCollector>();
    case FileCollectorOptions::directories: return std::make_shared<DirectoryCollector>();
    case FileCollectorOptions::filesAndDirectories: return std::make_shared<FileCollector>();
    case FileCollectorOptions::packages: return std::make_shared<PackageCollector>();
    case FileCollectorOptions::diskImages: return std::make_shared<DiskImageCollector>();
    case FileCollectorOptions::xcodeArchives: return std::make_shared<XcodeArchiveCollector>();
  }
  return std::make_shared<FileCollector>();
}

}  // namespace vantelkit
