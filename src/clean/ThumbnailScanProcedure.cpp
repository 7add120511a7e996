#include "vantelkit/clean/ThumbnailScanProcedure.h"

#include "clean/internal/PileScan.h"
#include "vantelkit/formats/PngText.h"
#include "vantelkit/formats/TrashInfo.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {

namespace {

using Items = std::vector<std::shared_ptr<CleanScanItem>>;

constexpr std::size_t kThumbnailLimit = 16 * 1024 * 1024;
constexpr std::string_view kSizeFolders[] = {"normal", "large", "x-large", "xx-large"};

struct Sorted {
  Items orphaned;
  Items existing;
  Items failed;
  Items unreadableThumbnails;
};

void sortFolder(const FileNode& folder, bool failed, bool usage, Sorted& sorted,
                ThumbnailScanProcedure::Unreadable& unreadable) {
  for (const auto& node : folder.children()) {
    if (node->type() != FileNode::NodeType::file) continue;
    if (failed) {
      sorted.failed.push_back(internal::reasonedItem(node, std::nullopt, "failed thumbnail attempt", usage));
      continue;
    }
    std::error_code error;
    const auto bytes = platform::readSmallFile(node->url().path(), kThumbnailLimit, false, error);
    if (!bytes && error != std::errc::file_too_large) {
      unreadable.push_back({node->url().path(), error.value(), false});
      continue;
    }
    std::optional<std::string> uri;
    if (bytes) {
      if (auto texts = readPngText(*bytes)) {
        if (auto found = texts->find("Thumb::URI"); found != texts->end() && !found->second.empty())
          uri = found->second;
      }
    }
    switch (ThumbnailScanProcedure::originalOf(uri)) {
      case ThumbnailScanProcedure::Original::missing:
        sorted.orphaned.push_back(
            internal::reasonedItem(node, std::nullopt, "thumbnail of a file that no longer exists", usage));
        break;
      case ThumbnailScanProcedure::Original::existing:
        sorted.existing.push_back(internal::reasonedItem(node, std::nullopt, "thumbnail of an existing file", usage));
        break;
      case ThumbnailScanProcedure::Original::nonLocal:
        sorted.existing.push_back(internal::reasonedItem(node, std::nullopt, "thumbnail of a non-local file", usage));
        break;
      case ThumbnailScanProcedure::Original::unknown:
        sorted.unreadableThumbnails.push_back(
            internal::reasonedItem(node, std::nullopt, "unreadable thumbnail", usage));
        break;
    }
  }
}

}  // namespace

std::vector<std::string> ThumbnailScanProcedure::thumbnailFolders() {
  return {platform::Paths::xdgCacheHome() + "/thumbnails", platform::Paths::inHome(".thumbnails")};
}

std::optional<std::string> ThumbnailScanProcedure::localPathOfURI(std::string_view uri) {
  constexpr std::string_view scheme = "file://";
  if (uri.size() < scheme.size()) return std::nullopt;
  for (std::size_t i = 0; i < scheme.size(); ++i)
    if ((uri[i] | (i < 4 ? 0x20 : 0)) != scheme[i]) return std::nullopt;
  uri.remove_prefix(scheme.size());
  const std::size_t slash = uri.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view host = uri.substr(0, slash);
  if (!host.empty() && host != "localhost") return std::nullopt;
  std::string_view path = uri.substr(slash);
  if (const std::size_t end = path.find_first_of("?#"); end != std::string_view::npos) path = path.substr(0, end);
  std::string decoded = percentDecoded(path);
  if (decoded.find('\0') != std::string::npos) return std::nullopt;
  return decoded;
}

ThumbnailScanProcedure::Original ThumbnailScanProcedure::originalOf(const std::optional<std::string>& uri) {
  if (!uri) return Original::unknown;
  const auto path = localPathOfURI(*uri);
  if (!path) return Original::nonLocal;
  const auto status = platform::pathStatus(*path, false);
  const bool gone = status.error == std::errc::no_such_file_or_directory || status.error == std::errc::not_a_directory;
  return gone ? Original::missing : Original::existing;
}

ThumbnailScanProcedure::ThumbnailScanProcedure(bool measuresUsage) : _measuresUsage(measuresUsage) {
  setMaxConcurrentOperationCount(1);
  setQualityOfService(QualityOfService::userInitiated);
  const auto self = weakReference<ThumbnailScanProcedure>();
  std::vector<std::string> folders;
  std::vector<std::shared_ptr<DiskMapProcedure>> walks;
  for (const auto& folder : thumbnailFolders()) {
    if (!internal::isFolder(folder)) continue;
    folders.push_back(folder);
    walks.push_back(internal::makeWalk(folder, 3));
  }
  auto build = [self, walks, folders, usage = measuresUsage](std::vector<internal::PendingMeasurement>&) {
    CleanScanItemSet items;
    if (folders.empty()) return items;
    Sorted sorted;
    Unreadable unreadable;
    for (const auto& walk : walks) {
      auto result = internal::walkResult(walk);
      if (!result || !result->root()) continue;
      unreadable.insert(unreadable.end(), result->unreadableEntries().begin(), result->unreadableEntries().end());
      const FileNode& root = *result->root();
      for (auto name : kSizeFolders)
        if (auto folder = internal::childNamed(root, name)) sortFolder(*folder, false, usage, sorted, unreadable);
      if (auto fail = internal::childNamed(root, "fail")) {
        for (const auto& thumbnailer : fail->children())
          if (thumbnailer->type() == FileNode::NodeType::directory)
            sortFolder(*thumbnailer, true, usage, sorted, unreadable);
      }
    }
    Items containers{CleanScanItem::make(nullptr, std::move(sorted.orphaned), "Orphaned thumbnails"),
                     CleanScanItem::make(nullptr, std::move(sorted.existing), "Thumbnails of existing files")};
    if (!sorted.failed.empty())
      containers.push_back(CleanScanItem::make(nullptr, std::move(sorted.failed), "Failed thumbnails"));
    if (!sorted.unreadableThumbnails.empty())
      containers.push_back(
          CleanScanItem::make(nullptr, std::move(sorted.unreadableThumbnails), "Unreadable thumbnails"));
    items.insert(CleanScanItem::make(nullptr, std::move(containers), "Thumbnails"));
    if (auto strong = self.lock()) strong->addUnreadable(unreadable);
    return items;
  };
  auto finish = internal::makeBuildAndFinish([self]() -> std::shared_ptr<GroupProcedure> { return self.lock(); }, walks,
                                             build, measuresUsage,
                                             [self](const Unreadable& entries) {
                                               if (auto strong = self.lock()) strong->addUnreadable(entries);
                                             },
                                             [self](CleanScanItemSet items) {
                                               if (auto strong = self.lock()) strong->setSuccess(std::move(items));
                                             });
  for (const auto& walk : walks) addChild(walk);
  addChild(finish);
}

ThumbnailScanProcedure::Unreadable ThumbnailScanProcedure::unreadable() const {
  std::lock_guard lock(_mutex);
  return _unreadable;
}

void ThumbnailScanProcedure::addUnreadable(const Unreadable& entries) {
  std::lock_guard lock(_mutex);
  _unreadable.insert(_unreadable.end(), entries.begin(), entries.end());
}

}  // namespace vantelkit
