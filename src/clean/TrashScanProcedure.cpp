#include "vantelkit/clean/TrashScanProcedure.h"

#include <cmath>
#include <map>
#include <set>

#include <fmt/format.h>

#include "clean/internal/PileScan.h"
#include "vantelkit/formats/TrashDirectorySizes.h"
#include "vantelkit/formats/TrashInfo.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/platform/Volumes.h"

namespace vantelkit {

namespace {

using internal::PendingMeasurement;

constexpr std::string_view kInfoSuffix = ".trashinfo";
constexpr std::size_t kInfoLimit = 64 * 1024;
constexpr std::size_t kDirectorySizesLimit = 16 * 1024 * 1024;

bool isPathPrefix(std::string_view prefix, std::string_view path) {
  if (prefix == "/") return !path.empty() && path.front() == '/';
  return path.size() >= prefix.size() && path.substr(0, prefix.size()) == prefix &&
         (path.size() == prefix.size() || path[prefix.size()] == '/');
}

// Kernel and other file systems that never hold a user's files.
bool isPseudoFileSystemType(std::string_view type) {
  static constexpr std::string_view others[] = {"autofs",   "devtmpfs", "mqueue",     "hugetlbfs", "fusectl",
                                                "configfs", "efivarfs", "rpc_pipefs", "nsfs",      "ramfs"};
  if (platform::isKernelFileSystemType(type)) return true;
  for (auto other : others)
    if (type == other) return true;
  return false;
}

std::string lastComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool isMissing(const std::error_code& error) {
  return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
}

struct TrashBuild {
  const TrashScanProcedure::TrashFolder& trash;
  const bool usage;
  const platform::LocalDateTime now;
  std::vector<PendingMeasurement>& pending;
  TrashScanProcedure::Unreadable& unreadable;

  void noteUnreadable(const std::string& path, const std::error_code& error, bool isDirectory) {
    unreadable.push_back({path, error.value(), isDirectory});
  }

  std::map<std::string, TrashDirectorySize> directorySizes() {
    std::map<std::string, TrashDirectorySize> byName;
    const std::string path = trash.path + "/directorysizes";
    std::error_code error;
    auto text = platform::readSmallFile(path, kDirectorySizesLimit, false, error);
    if (!text) {
      if (!isMissing(error)) noteUnreadable(path, error, false);
      return byName;
    }
    for (auto& entry : parseTrashDirectorySizes(*text)) byName.insert_or_assign(entry.name, std::move(entry));
    return byName;
  }

  // The items of the trash whose walk's root is root.
  std::vector<std::shared_ptr<CleanScanItem>> build(const FileNode& root) {
    std::vector<std::shared_ptr<CleanScanItem>> children;
    const auto files = internal::childNamed(root, "files");
    const auto info = internal::childNamed(root, "info");
    const bool filesListed =
        !files || (files->type() == FileNode::NodeType::directory && !files->hasMark(FileNode::unreadable));
    const bool infoListed =
        !info || (info->type() == FileNode::NodeType::directory && !info->hasMark(FileNode::unreadable));
    std::map<std::string, std::shared_ptr<FileNode>> infoFiles;
    if (info && info->type() == FileNode::NodeType::directory) {
      for (const auto& node : info->children()) {
        const std::string& name = node->name();
        if (node->type() == FileNode::NodeType::file && name.size() > kInfoSuffix.size() && name.ends_with(kInfoSuffix))
          infoFiles.emplace(name.substr(0, name.size() - kInfoSuffix.size()), node);
      }
    }
    const auto cache = directorySizes();
    std::set<std::string> itemFound;
    if (files && files->type() == FileNode::NodeType::directory) {
      for (const auto& node : files->children()) {
        auto found = infoFiles.find(node->name());
        itemFound.insert(node->name());
        children.push_back(trashedItem(node, found == infoFiles.end() ? nullptr : found->second, infoListed, cache));
      }
    }
    for (const auto& [name, node] : infoFiles) {
      if (itemFound.contains(name)) continue;
      const std::string entryPath = trash.path + "/files/" + name;
      const auto status = platform::pathStatus(entryPath, false);
      if (status.type != platform::FileObjectType::unknown) {
        // A link, pipe, socket or device: not a node of the walk's tree.
        auto entry = FileNode::make(FileURL::fileURLWithPath(entryPath, false), nullptr, status.ownSize,
                                    status.type == platform::FileObjectType::symbolicLink ? FileNode::NodeType::link
                                                                                          : FileNode::NodeType::file);
        entry->setUsage(status.ownUsage);
        children.push_back(trashedItem(entry, node, infoListed, cache));
      } else if (filesListed && isMissing(status.error)) {
        children.push_back(
            internal::reasonedItem(node, std::nullopt, "information file without a trashed item", usage));
      }
    }
    return children;
  }

  std::shared_ptr<CleanScanItem> trashedItem(const std::shared_ptr<FileNode>& node,
                                             const std::shared_ptr<FileNode>& infoNode, bool infoListed,
                                             const std::map<std::string, TrashDirectorySize>& cache) {
    std::optional<std::string> name;
    std::string reason;
    std::optional<std::int64_t> infoTime;
    if (!infoNode) {
      reason = infoListed ? "no information file" : "information file cannot be read";
    } else {
      const std::string infoPath = infoNode->url().path();
      std::error_code error;
      auto text = platform::readSmallFile(infoPath, kInfoLimit, false, error);
      std::optional<TrashInfo> parsed = text ? parseTrashInfo(*text) : std::nullopt;
      if (!text && error != std::errc::file_too_large) noteUnreadable(infoPath, error, false);
      if (parsed) {
        const std::string original = parsed->originalPath(trash.topFolder);
        name = lastComponent(original);
        reason = TrashScanProcedure::trashedReason(parsed->deletionDate, now, original);
      } else {
        reason = text ? "information file without a path" : "information file cannot be read";
      }
      if (auto time = platform::fileModificationTimeNotFollowingLink(infoPath))
        infoTime = static_cast<std::int64_t>(std::floor(*time));
    }
    if (name && name->empty()) name.reset();
    auto item = internal::reasonedItem(node, name, reason, usage);
    if (node->type() == FileNode::NodeType::directory) {
      auto cached = cache.find(node->name());
      if (usage && infoTime && cached != cache.end() && cached->second.informationModificationTime == *infoTime) {
        item->size = cached->second.size;
      } else {
        pending.push_back({item, node->url().path()});
      }
    }
    return item;
  }
};

}  // namespace

std::string TrashScanProcedure::trashedReason(const std::optional<platform::LocalDateTime>& deleted,
                                              const platform::LocalDateTime& now, std::string_view originalPath) {
  if (!deleted) return fmt::format("trashed from {}, deletion date unknown", originalPath);
  const std::int64_t days = now.dayNumber() - deleted->dayNumber();
  if (days <= 0) return fmt::format("trashed today from {}", originalPath);
  if (days == 1) return fmt::format("trashed 1 day ago from {}", originalPath);
  return fmt::format("trashed {} days ago from {}", days, originalPath);
}

std::vector<TrashScanProcedure::TrashFolder> TrashScanProcedure::trashFolders() {
  std::vector<TrashFolder> folders;
  const std::string homeTrash = platform::Paths::xdgDataHome() + "/Trash";
  if (internal::isFolder(homeTrash)) folders.push_back({homeTrash, "/", "Trash"});
  const std::string home = platform::Paths::home();
  const auto root = platform::Paths::rootOverride();
  const std::string uid = std::to_string(platform::currentUserId());
  const auto known = [&](const std::string& path) {
    for (const auto& folder : folders)
      if (folder.path == path) return true;
    return false;
  };
  for (const auto& volume : platform::Volumes::shared().mountedVolumes()) {
    const std::string& point = volume.mountPoint;
    if (point.empty() || point.front() != '/') continue;
    if (root && !isPathPrefix(*root, point)) continue;
    if (isPseudoFileSystemType(volume.filesystemType)) continue;
    const bool holdsHome = isPathPrefix(point, home);
    if ((volume.isRemovable || platform::isNetworkFileSystemType(volume.filesystemType)) && !holdsHome) continue;
    const std::string top = point == "/" ? "" : point;
    const std::string displayName = "Trash on " + point;
    const std::string shared = top + "/.Trash/" + uid;
    if (platform::isStickyFolderNotFollowingLink(top + "/.Trash") && internal::isFolder(shared) && !known(shared))
      folders.push_back({shared, point, displayName});
    const std::string own = top + "/.Trash-" + uid;
    if (internal::isFolder(own) && !known(own)) folders.push_back({own, point, displayName});
  }
  return folders;
}

TrashScanProcedure::TrashScanProcedure(bool measuresUsage) : _measuresUsage(measuresUsage), _folders(trashFolders()) {
  setMaxConcurrentOperationCount(1);
  setQualityOfService(QualityOfService::userInitiated);
  const auto self = weakReference<TrashScanProcedure>();
  std::vector<std::shared_ptr<DiskMapProcedure>> walks;
  for (const auto& folder : _folders) walks.push_back(internal::makeWalk(folder.path, 2));

  auto build = [self, walks, folders = _folders, usage = measuresUsage](std::vector<PendingMeasurement>& pending) {
    Unreadable unreadable;
    const auto now = platform::localDateTimeNow();
    // One container per name: a volume's two trashes are one.
    std::vector<std::pair<std::string, std::vector<std::shared_ptr<CleanScanItem>>>> containers;
    for (std::size_t i = 0; i < walks.size(); ++i) {
      auto result = internal::walkResult(walks[i]);
      if (!result || !result->root()) continue;
      unreadable.insert(unreadable.end(), result->unreadableEntries().begin(), result->unreadableEntries().end());
      TrashBuild trash{folders[i], usage, now, pending, unreadable};
      auto children = trash.build(*result->root());
      if (containers.empty() || containers.back().first != folders[i].displayName)
        containers.emplace_back(folders[i].displayName, std::vector<std::shared_ptr<CleanScanItem>>{});
      auto& into = containers.back().second;
      into.insert(into.end(), children.begin(), children.end());
    }
    CleanScanItemSet items;
    for (auto& [name, children] : containers) items.insert(CleanScanItem::make(nullptr, std::move(children), name));
    if (auto strong = self.lock()) strong->addUnreadable(unreadable);
    return items;
  };
  const internal::UnreadableSink sink = [self](const Unreadable& entries) {
    if (auto strong = self.lock()) strong->addUnreadable(entries);
  };
  auto finish = internal::makeBuildAndFinish([self]() -> std::shared_ptr<GroupProcedure> { return self.lock(); }, walks,
                                             build, measuresUsage, sink,
                                             [self](CleanScanItemSet items) {
                                               if (auto strong = self.lock()) strong->setSuccess(std::move(items));
                                             });
  for (const auto& walk : walks) addChild(walk);
  addChild(finish);
}

TrashScanProcedure::Unreadable TrashScanProcedure::unreadable() const {
  std::lock_guard lock(_mutex);
  return _unreadable;
}

void TrashScanProcedure::addUnreadable(const Unreadable& entries) {
  std::lock_guard lock(_mutex);
  _unreadable.insert(_unreadable.end(), entries.begin(), entries.end());
}

}  // namespace vantelkit
