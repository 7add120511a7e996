// One result of a metadata query: a file's attributes, read by name ("kMDItemPath",
// "kMDItemFSSize", "kMDItemFSName", "kMDItemDisplayName"), and the order of results that a
// query's sort descriptors give.
// Thread safety: immutable once made; share freely.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vantelkit/foundation/Value.h"

namespace vantelkit {

using MetadataValue = std::variant<std::string, std::int64_t, double, Date>;

class MetadataItem {
 public:
  using Attributes = std::map<std::string, MetadataValue, std::less<>>;

  explicit MetadataItem(Attributes attributes) : _attributes(std::move(attributes)) {}
  MetadataItem(const MetadataItem&) = delete;
  MetadataItem& operator=(const MetadataItem&) = delete;

  // None when the item has no such attribute.
  std::optional<MetadataValue> valueForAttribute(std::string_view name) const;
  const Attributes& attributes() const { return _attributes; }

 private:
  const Attributes _attributes;
};

// Orders results by one attribute. Items without the attribute come after those with it.
struct MetadataSortDescriptor {
  std::string key;
  bool ascending = true;
  bool operator==(const MetadataSortDescriptor&) const = default;
};

// Sorts items by the descriptors in turn, then by "kMDItemPath" ascending, so that equal
// keys still come in one fixed order. Numbers compare by value whatever their type; texts
// by their bytes.
void sortMetadataItems(std::vector<std::shared_ptr<const MetadataItem>>& items,
                       const std::vector<MetadataSortDescriptor>& descriptors);

}  // namespace vantelkit
