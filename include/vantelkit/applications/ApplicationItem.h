// The full record of an installed application as the uninstaller shows it: its bundle (the
// one entry of the binaries group), the applications nested in it, the support-file groups
// matched to it, its icon and total size. Equal (and hashed) by bundle identifier.
// Thread safety: one owner at a time; made on a scan's worker thread, then filled in by the
// application scanner's stages, one stage at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "vantelkit/applications/ApplicationResourceGroup.h"
#include "vantelkit/applications/BundleInfo.h"
#include "vantelkit/platform/Image.h"
#include "vantelkit/scanning/FileNode.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

class ApplicationItem {
 public:
  // Builds the item from the node of a ".app" bundle: its identity, a binaries group that
  // holds one resource for the bundle itself, and its icon at 128 points. Null when the
  // node's URL is no readable application bundle (see BundleInfo::fromURL).
  static std::shared_ptr<ApplicationItem> make(const std::shared_ptr<FileNode>& node);

  ApplicationItem(FileURL url, bool isMacAppStore, BundleInfo bundleInfo,
                  std::shared_ptr<ApplicationResourceGroup> binaries, std::optional<platform::Image> icon);
  ApplicationItem(const ApplicationItem&) = delete;
  ApplicationItem& operator=(const ApplicationItem&) = delete;

  const FileURL& url() const { return _url; }
  // True when the bundle holds "Contents/_MASReceipt" (a file or a folder).
  bool isMacAppStore() const { return _isMacAppStore; }

 private:
  FileURL _url;
  bool _isMacAppStore;

 public:
  BundleInfo bundleInfo;
  std::vector<BundleInfo> childApplications;
  // Never null.
  std::shared_ptr<ApplicationResourceGroup> binaries;
  std::vector<std::shared_ptr<ApplicationResourceGroup>> resources;
  std::optional<platform::Image> icon;

  const std::string& identifier() const { return bundleInfo.identifier; }
  // binaries first, then resources in order (a new list each time).
  std::vector<std::shared_ptr<ApplicationResourceGroup>> allResources() const;
  // The sizes of every resource of binaries and of every group in resources.
  std::int64_t totalSize() const;

  bool operator==(const ApplicationItem& other) const { return identifier() == other.identifier(); }
  std::size_t hash() const { return std::hash<std::string>{}(identifier()); }
};

// True when a file system item exists at the bundle's "Contents/_MASReceipt".
bool hasMacAppStoreReceipt(const FileURL& bundleURL);

struct ApplicationItemHash {
  std::size_t operator()(const std::shared_ptr<ApplicationItem>& item) const { return item ? item->hash() : 0; }
};
struct ApplicationItemEqual {
  bool operator()(const std::shared_ptr<ApplicationItem>& a, const std::shared_ptr<ApplicationItem>& b) const {
    if (!a || !b) return a == b;
    return *a == *b;
  }
};
using ApplicationItemSet = std::unordered_set<std::shared_ptr<ApplicationItem>, ApplicationItemHash, ApplicationItemEqual>;

}  // namespace vantelkit
