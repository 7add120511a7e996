#include "vantelkit/diskmap/DiskMapSearch.h"

#include "vantelkit/platform/TextCase.h"

namespace vantelkit {

namespace {

std::string folded(std::string_view text) {
  std::string out;
  platform::caseFold(text, out);
  return out;
}

}  // namespace

DiskMapSearch::DiskMapSearch(Filter filter)
    : _fold(filter.ignoreCase), _minimumSize(filter.minimumSize), _type(filter.type) {
  if (filter.extension) {
    std::string_view extension = *filter.extension;
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    _suffix = "." + folded(extension);
  }
  if (filter.nameContains) _contains = _fold ? folded(*filter.nameContains) : std::move(*filter.nameContains);
}

bool DiskMapSearch::matches(const DiskMap::Entry& entry) const {
  if (_type && entry.nodeType() != *_type) return false;
  const std::string_view name = entry.nameView();
  if (_suffix || _contains) {
    // One buffer per thread: most names then cost no allocation.
    thread_local std::string foldedName;
    if (_suffix || _fold) platform::caseFold(name, foldedName);
    if (_suffix && (foldedName.size() <= _suffix->size() || !foldedName.ends_with(*_suffix))) return false;
    if (_contains && (_fold ? std::string_view(foldedName) : name).find(*_contains) == std::string_view::npos)
      return false;
  }
  if (_minimumSize && ownSize(entry) < *_minimumSize) return false;
  return true;
}

void DiskMapSearch::forEachMatch(const DiskMap& map, std::string_view rootPath,
                                 const std::function<void(DiskMap::Index, const std::string&)>& found) const {
  std::string prefix(rootPath);
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  map.visitInPathOrder(DiskMap::rootIndex, std::move(prefix),
                       [this, &map, &found](DiskMap::Index index, const std::string& path) {
                         if (matches(map[index])) found(index, path);
                         return true;
                       });
}

}  // namespace vantelkit
