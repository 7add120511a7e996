#include "vantelkit/diskmap/DiskMapSearch.h"

#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/RegularExpression.h"
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
    : _fold(filter.ignoreCase), _minimumSize(filter.minimumSize) {
  for (auto type : filter.types) {
    if (static_cast<unsigned>(type) < 32) _types |= std::uint32_t{1} << static_cast<unsigned>(type);
  }
  if (filter.extension) {
    std::string_view extension = *filter.extension;
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    _suffix = "." + folded(extension);
  }
  if (filter.nameContains) _contains = _fold ? folded(*filter.nameContains) : std::move(*filter.nameContains);
  if (filter.glob) _glob = _fold ? folded(*filter.glob) : std::move(*filter.glob);
}

Result<DiskMapSearch> DiskMapSearch::make(Filter filter) {
  std::optional<std::string> regex = std::move(filter.regex);
  DiskMapSearch search(std::move(filter));
  if (regex) {
    std::string reason;
    search._regex = platform::RegularExpression::make(*regex, {.ignoreCase = search._fold}, reason);
    if (!search._regex)
      return makeError<DiskMapSearchError>(DiskMapSearchError::Case::badRegularExpression, *regex, reason);
  }
  return search;
}

bool DiskMapSearch::matches(const DiskMap::Entry& entry) const {
  if (_types != 0) {
    const auto type = static_cast<unsigned>(entry.nodeType());
    if (type >= 32 || (_types & (std::uint32_t{1} << type)) == 0) return false;
  }
  const std::string_view name = entry.nameView();
  if (_suffix || _contains || _glob) {
    // One buffer per thread: most names then cost no allocation.
    thread_local std::string foldedName;
    if (_suffix || _fold) platform::caseFold(name, foldedName);
    if (_suffix && (foldedName.size() <= _suffix->size() || !foldedName.ends_with(*_suffix))) return false;
    if (_contains && (_fold ? std::string_view(foldedName) : name).find(*_contains) == std::string_view::npos)
      return false;
    if (_glob) {
      thread_local std::string plainName;
      if (!_fold) plainName.assign(name);
      if (!platform::globMatches(*_glob, _fold ? foldedName : plainName)) return false;
    }
  }
  if (_regex && !_regex->found(name)) return false;
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
