#include "vantelkit/metadata/MetadataItem.h"

#include <algorithm>
#include <cstdint>
#include <deque>

namespace vantelkit {

MetadataItem::MetadataItem(Attributes attributes) {
  std::call_once(_made, [&] { _attributes = std::make_unique<const Attributes>(std::move(attributes)); });
}

MetadataItem::MetadataItem(std::string path, std::int64_t size, std::int64_t physicalSize)
    : _file(File{std::move(path), size, physicalSize}) {}

MetadataItem::~MetadataItem() = default;

std::string_view MetadataItem::fileName() const {
  std::string_view path = _file->path;
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  auto slash = path.rfind('/');
  return slash == std::string_view::npos || path.size() == 1 ? path : path.substr(slash + 1);
}

std::optional<MetadataValue> MetadataItem::valueForAttribute(std::string_view name) const {
  if (_file) {
    if (name == "kMDItemPath") return _file->path;
    if (name == "kMDItemFSName" || name == "kMDItemDisplayName") return std::string(fileName());
    if (name == "kMDItemFSSize") return _file->size;
    if (name == "kMDItemPhysicalSize") return _file->physicalSize;
    return std::nullopt;
  }
  const auto& all = attributes();
  auto found = all.find(name);
  if (found == all.end()) return std::nullopt;
  return found->second;
}

const MetadataItem::Attributes& MetadataItem::attributes() const {
  std::call_once(_made, [this] {
    Attributes all;
    all.emplace("kMDItemPath", _file->path);
    all.emplace("kMDItemFSName", std::string(fileName()));
    all.emplace("kMDItemDisplayName", std::string(fileName()));
    all.emplace("kMDItemFSSize", _file->size);
    all.emplace("kMDItemPhysicalSize", _file->physicalSize);
    _attributes = std::make_unique<const Attributes>(std::move(all));
  });
  return *_attributes;
}

namespace {

// A sort key read without copying what the item holds: numbers and dates by value, texts by
// reference.
struct SortValue {
  enum class Rank : std::uint8_t { number, text, date, absent };
  Rank rank = Rank::absent;
  bool integer = false;
  union {
    std::int64_t integerValue = 0;
    double realValue;  // a number that is not an integer, or a date's seconds
    const std::string* text;
  };
};

SortValue sortValueOf(const MetadataValue& value) {
  SortValue key;
  if (const auto* text = std::get_if<std::string>(&value)) {
    key.rank = SortValue::Rank::text;
    key.text = text;
  } else if (const auto* date = std::get_if<Date>(&value)) {
    key.rank = SortValue::Rank::date;
    key.realValue = date->secondsSince1970;
  } else if (const auto* integer = std::get_if<std::int64_t>(&value)) {
    key.rank = SortValue::Rank::number;
    key.integer = true;
    key.integerValue = *integer;
  } else {
    key.rank = SortValue::Rank::number;
    key.realValue = std::get<double>(value);
  }
  return key;
}

// As compareOptional() on the values the keys stand for.
int compareSortValues(const SortValue& a, const SortValue& b, bool ascending) {
  using Rank = SortValue::Rank;
  if (a.rank == Rank::absent || b.rank == Rank::absent)
    return a.rank != Rank::absent ? -1 : b.rank != Rank::absent ? 1 : 0;
  int order = 0;
  if (a.rank != b.rank) {
    order = a.rank < b.rank ? -1 : 1;
  } else if (a.rank == Rank::text) {
    int c = a.text->compare(*b.text);
    order = c < 0 ? -1 : c > 0 ? 1 : 0;
  } else if (a.rank == Rank::number && a.integer && b.integer) {
    order = a.integerValue < b.integerValue ? -1 : b.integerValue < a.integerValue ? 1 : 0;
  } else {
    double x = a.integer ? static_cast<double>(a.integerValue) : a.realValue;
    double y = b.integer ? static_cast<double>(b.integerValue) : b.realValue;
    order = x < y ? -1 : y < x ? 1 : 0;
  }
  return ascending ? order : -order;
}

}  // namespace

void sortMetadataItems(std::vector<std::shared_ptr<const MetadataItem>>& items,
                       const std::vector<MetadataSortDescriptor>& descriptors) {
  std::vector<MetadataSortDescriptor> keys = descriptors;
  keys.push_back({"kMDItemPath", true});
  // The keys of each item are read once, not on every comparison, into one table; texts that
  // an item makes on request (a walk's item's names) are kept in owned.
  const std::size_t width = keys.size();
  std::vector<SortValue> values;
  values.reserve(items.size() * width);
  std::deque<std::string> owned;
  for (const auto& item : items) {
    for (const auto& key : keys) {
      SortValue value;
      if (item && item->_file) {
        const auto& file = *item->_file;
        if (key.key == "kMDItemPath") {
          value.rank = SortValue::Rank::text;
          value.text = &file.path;
        } else if (key.key == "kMDItemFSSize" || key.key == "kMDItemPhysicalSize") {
          value.rank = SortValue::Rank::number;
          value.integer = true;
          value.integerValue = key.key == "kMDItemFSSize" ? file.size : file.physicalSize;
        } else if (key.key == "kMDItemFSName" || key.key == "kMDItemDisplayName") {
          value.rank = SortValue::Rank::text;
          value.text = &owned.emplace_back(item->fileName());
        }
      } else if (item) {
        const auto& all = item->attributes();
        auto found = all.find(key.key);
        if (found != all.end()) value = sortValueOf(found->second);
      }
      values.push_back(value);
    }
  }
  // The first key travels with each row, so that most comparisons read no further.
  struct Row {
    SortValue first;
    std::size_t item;
  };
  std::vector<Row> rows(items.size());
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = {values[i * width], i};
  std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
    int c = compareSortValues(a.first, b.first, keys[0].ascending);
    if (c != 0) return c < 0;
    for (std::size_t k = 1; k < width; ++k) {
      c = compareSortValues(values[a.item * width + k], values[b.item * width + k], keys[k].ascending);
      if (c != 0) return c < 0;
    }
    return false;
  });
  std::vector<std::shared_ptr<const MetadataItem>> sorted;
  sorted.reserve(items.size());
  for (const auto& row : rows) sorted.push_back(std::move(items[row.item]));
  items = std::move(sorted);
}

}  // namespace vantelkit
