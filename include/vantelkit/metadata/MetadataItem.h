// One result of a metadata query: a file's attributes, read by name ("kMDItemPath",
// "kMDItemFSSize", "kMDItemFSName", "kMDItemDisplayName"), and the order of results that a
// query's sort descriptors give.
// Thread safety: immutable once made; share freely.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vantelkit/foundation/Value.h"

namespace vantelkit {

using MetadataValue = std::variant<std::string, std::int64_t, double, Date>;

// Orders results by one attribute. Items without the attribute come after those with it.
struct MetadataSortDescriptor {
  std::string key;
  bool ascending = true;
  bool operator==(const MetadataSortDescriptor&) const = default;
};

class MetadataItem {
 public:
  using Attributes = std::map<std::string, MetadataValue, std::less<>>;

  explicit MetadataItem(Attributes attributes);
  // A file or folder as a walk found it: kMDItemPath, kMDItemFSName and kMDItemDisplayName
  // (both the path's last component), kMDItemFSSize and kMDItemPhysicalSize, kept in a
  // fraction of the room of an attribute map.
  MetadataItem(std::string path, std::int64_t size, std::int64_t physicalSize);
  MetadataItem(const MetadataItem&) = delete;
  MetadataItem& operator=(const MetadataItem&) = delete;
  ~MetadataItem();

  // None when the item has no such attribute.
  std::optional<MetadataValue> valueForAttribute(std::string_view name) const;
  // Every attribute (made on first use for a walk's item).
  const Attributes& attributes() const;

 private:
  struct File {
    std::string path;
    std::int64_t size = 0;
    std::int64_t physicalSize = 0;
  };
  std::string_view fileName() const;
  friend void sortMetadataItems(std::vector<std::shared_ptr<const MetadataItem>>& items,
                                const std::vector<MetadataSortDescriptor>& descriptors);

  const std::optional<File> _file;
  mutable std::once_flag _made;
  mutable std::unique_ptr<const Attributes> _attributes;  // set once, through _made
};

// Sorts items by the descriptors in turn, then by "kMDItemPath" ascending, so that equal
// keys still come in one fixed order. Numbers compare by value whatever their type; texts
// by their bytes.
void sortMetadataItems(std::vector<std::shared_ptr<const MetadataItem>>& items,
                       const std::vector<MetadataSortDescriptor>& descriptors);

}  // namespace vantelkit
