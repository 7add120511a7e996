#include "vantelkit/applications/ApplicationItem.h"

#include <filesystem>

#include "vantelkit/applications/FileIcon.h"

namespace vantelkit {

bool hasMacAppStoreReceipt(const FileURL& bundleURL) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::path(bundleURL.path()) / "Contents" / "_MASReceipt", error);
}

ApplicationItem::ApplicationItem(FileURL url, bool isMacAppStore, BundleInfo bundleInfo,
                                 std::shared_ptr<ApplicationResourceGroup> binaries,
                                 std::optional<platform::Image> icon)
    : _url(std::move(url)),
      _isMacAppStore(isMacAppStore),
      bundleInfo(std::move(bundleInfo)),
      binaries(binaries ? std::move(binaries) : ApplicationResourceGroup::make(ApplicationResourceGroup::Category::binaries)),
      icon(std::move(icon)) {}

std::shared_ptr<ApplicationItem> ApplicationItem::make(const std::shared_ptr<FileNode>& node) {
  if (!node) return nullptr;
  const FileURL& url = node->url();
  auto info = BundleInfo::fromURL(url);
  if (!info) return nullptr;
  // The bundle's resource and the item share one reading of the icon.
  platform::Image icon = fileIcon(url, 128);
  auto bundle = std::make_shared<ApplicationResourceGroup::Resource>(url.lastPathComponent(), url, node->size(), icon,
                                                                     node->type());
  auto binaries = ApplicationResourceGroup::make(ApplicationResourceGroup::Category::binaries, {std::move(bundle)});
  return std::make_shared<ApplicationItem>(url, hasMacAppStoreReceipt(url), std::move(*info), std::move(binaries),
                                           std::move(icon));
}

std::vector<std::shared_ptr<ApplicationResourceGroup>> ApplicationItem::allResources() const {
  std::vector<std::shared_ptr<ApplicationResourceGroup>> all;
  all.reserve(resources.size() + 1);
  all.push_back(binaries);
  all.insert(all.end(), resources.begin(), resources.end());
  return all;
}

std::int64_t ApplicationItem::totalSize() const {
  std::int64_t total = binaries ? binaries->totalSize() : 0;
  for (const auto& group : resources) {
    if (group) total += group->totalSize();
  }
  return total;
}

}  // namespace vantelkit
