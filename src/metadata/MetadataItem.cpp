#include "vantelkit/metadata/MetadataItem.h"

#include <algorithm>
#include <numeric>

namespace vantelkit {

namespace {

// Numbers before texts before dates; -1, 0, 1.
int compareValues(const MetadataValue& a, const MetadataValue& b) {
  auto rank = [](const MetadataValue& v) { return v.index() == 0 ? 1 : v.index() == 3 ? 2 : 0; };
  if (rank(a) != rank(b)) return rank(a) < rank(b) ? -1 : 1;
  if (const auto* text = std::get_if<std::string>(&a)) {
    int order = text->compare(std::get<std::string>(b));
    return order < 0 ? -1 : order > 0 ? 1 : 0;
  }
  if (const auto* date = std::get_if<Date>(&a)) {
    const auto& other = std::get<Date>(b);
    return *date < other ? -1 : other < *date ? 1 : 0;
  }
  const auto* ai = std::get_if<std::int64_t>(&a);
  const auto* bi = std::get_if<std::int64_t>(&b);
  if (ai && bi) return *ai < *bi ? -1 : *bi < *ai ? 1 : 0;
  double x = ai ? static_cast<double>(*ai) : std::get<double>(a);
  double y = bi ? static_cast<double>(*bi) : std::get<double>(b);
  return x < y ? -1 : y < x ? 1 : 0;
}

// Present before absent; -1, 0, 1.
int compareOptional(const std::optional<MetadataValue>& a, const std::optional<MetadataValue>& b, bool ascending) {
  if (!a || !b) return a ? -1 : b ? 1 : 0;
  int order = compareValues(*a, *b);
  return ascending ? order : -order;
}

}  // namespace

std::optional<MetadataValue> MetadataItem::valueForAttribute(std::string_view name) const {
  auto found = _attributes.find(name);
  if (found == _attributes.end()) return std::nullopt;
  return found->second;
}

void sortMetadataItems(std::vector<std::shared_ptr<const MetadataItem>>& items,
                       const std::vector<MetadataSortDescriptor>& descriptors) {
  std::vector<MetadataSortDescriptor> keys = descriptors;
  keys.push_back({"kMDItemPath", true});
  // The keys of each item are read once, not on every comparison.
  std::vector<std::vector<std::optional<MetadataValue>>> values(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    values[i].reserve(keys.size());
    for (const auto& key : keys)
      values[i].push_back(items[i] ? items[i]->valueForAttribute(key.key) : std::nullopt);
  }
  std::vector<std::size_t> order(items.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    for (std::size_t k = 0; k < keys.size(); ++k) {
      int c = compareOptional(values[a][k], values[b][k], keys[k].ascending);
      if (c != 0) return c < 0;
    }
    return false;
  });
  std::vector<std::shared_ptr<const MetadataItem>> sorted;
  sorted.reserve(items.size());
  for (std::size_t i : order) sorted.push_back(std::move(items[i]));
  items = std::move(sorted);
}

}  // namespace vantelkit
