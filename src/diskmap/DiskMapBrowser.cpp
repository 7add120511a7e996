#include "vantelkit/diskmap/DiskMapBrowser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/TextScreen.h"

namespace vantelkit {

namespace {

using Key = platform::TextScreen::Key;
constexpr std::int64_t kAppeared = std::numeric_limits<std::int64_t>::min();
constexpr std::uint8_t kExcludedMarks = FileNode::otherFileSystem | FileNode::pseudoFileSystem | FileNode::cacheFolder;

bool isPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

platform::FileObjectType objectTypeOf(FileNode::NodeType type) {
  using Type = FileNode::NodeType;
  switch (type) {
    case Type::directory: return platform::FileObjectType::directory;
    case Type::file: return platform::FileObjectType::file;
    case Type::link: return platform::FileObjectType::symbolicLink;
    case Type::fifo: return platform::FileObjectType::fifo;
    case Type::socket: return platform::FileObjectType::socket;
    case Type::block: return platform::FileObjectType::blockSpecial;
    case Type::character: return platform::FileObjectType::charSpecial;
    default: return platform::FileObjectType::unknown;
  }
}

}  // namespace

std::string DiskMapBrowserError::description() const {
  switch (_case) {
    case Case::scanRoot: return "scanRoot";
    case Case::alreadyRemoved: return "alreadyRemoved";
    case Case::unsafeName: return "unsafeName";
    case Case::linkOnPath: return "linkOnPath";
    case Case::changedOnDisk: return "changedOnDisk";
    case Case::trashFailed: return "trashFailed";
    case Case::restoreFailed: return "restoreFailed";
    case Case::removeFailed: return "removeFailed";
  }
  return "unknown";
}

std::string DiskMapBrowserError::localizedDescription() const {
  switch (_case) {
    case Case::scanRoot: return _path + " is the folder that was scanned";
    case Case::alreadyRemoved: return _path + " was removed already";
    case Case::unsafeName: return _path + " has a name that is not a plain name";
    case Case::linkOnPath: return _path + ": a folder above it is no longer a folder (a link, or gone)";
    case Case::changedOnDisk: return _path + " has changed on disk since the scan (rescan with r)";
    case Case::trashFailed: return "cannot move " + _path + " to the trash: " + _reason;
    case Case::restoreFailed: return "cannot put back " + _path + ": " + _reason;
    case Case::removeFailed: return "cannot remove " + _path + ": " + _reason;
  }
  return _path;
}

DiskMapBrowser::DiskMapBrowser(std::shared_ptr<DiskMap> map) : _map(std::move(map)) {
  const std::size_t count = _map->count();
  _counts.assign(count, 0);
  _removed.assign(count, false);
  // Every child has a higher index than its folder: one pass from the end sums the counts.
  for (std::size_t i = count; i-- > 1;) {
    const auto& entry = (*_map)[static_cast<Index>(i)];
    if (entry.parent != i) _counts[entry.parent] += _counts[i] + 1;
  }
  rebuildRows(std::nullopt);
}

std::optional<DiskMap::Index> DiskMapBrowser::selected() const {
  if (_rows.empty()) return std::nullopt;
  return _rows[_cursor];
}

void DiskMapBrowser::setPageRows(std::size_t rows) {
  _pageRows = std::max<std::size_t>(rows, 1);
  keepCursorInView();
}

void DiskMapBrowser::keepCursorInView() {
  if (_rows.empty()) {
    _cursor = _top = 0;
    return;
  }
  _cursor = std::min(_cursor, _rows.size() - 1);
  if (_cursor < _top) _top = _cursor;
  if (_cursor >= _top + _pageRows) _top = _cursor + 1 - _pageRows;
  // No empty space below the last row while rows above are out of view.
  if (_top + _pageRows > _rows.size()) _top = _rows.size() > _pageRows ? _rows.size() - _pageRows : 0;
}

DiskMapBrowser::Action DiskMapBrowser::press(int key) {
  const auto page = static_cast<std::ptrdiff_t>(_pageRows);
  switch (key) {
    case Key::up:
    case 'k': moveBy(-1); break;
    case Key::down:
    case 'j': moveBy(1); break;
    case Key::pageUp: moveBy(-page); break;
    case Key::pageDown: moveBy(page); break;
    case Key::home: moveToFirst(); break;
    case Key::end: moveToLast(); break;
    case Key::enter:
    case Key::right:
    case 'l': open(); break;
    case Key::left:
    case Key::backspace:
    case 'h':
    case '<': goUp(); break;
    case 's': sortBy(SortKey::size); break;
    case 'n': sortBy(SortKey::name); break;
    case 'C': sortBy(SortKey::itemCount); break;
    case 'M': sortBy(SortKey::modified); break;
    case 'c':
      if (isComparing()) sortBy(SortKey::change);
      break;
    case 'a': setShowsDiskUsage(!_diskUsage); break;
    case '.': setShowsHidden(!_showHidden); break;
    case 'e': setShowsExcluded(!_showExcluded); break;
    case 'q': return Action::quit;
    case Key::interrupt: return Action::interrupt;
    case '?': return Action::help;
    case 'i': return selected() ? Action::details : Action::none;
    case 'r': return Action::rescan;
    case 'd': return selected() ? Action::trash : Action::none;
    case 'D': return selected() ? Action::removePermanently : Action::none;
    case 'u': return Action::restore;
    default: break;
  }
  return Action::none;
}

void DiskMapBrowser::moveBy(std::ptrdiff_t rows) {
  if (_rows.empty()) return;
  const auto last = static_cast<std::ptrdiff_t>(_rows.size()) - 1;
  _cursor = static_cast<std::size_t>(std::clamp(static_cast<std::ptrdiff_t>(_cursor) + rows, std::ptrdiff_t{0}, last));
  keepCursorInView();
}

void DiskMapBrowser::moveToFirst() { moveBy(-static_cast<std::ptrdiff_t>(_rows.size())); }
void DiskMapBrowser::moveToLast() { moveBy(static_cast<std::ptrdiff_t>(_rows.size())); }

bool DiskMapBrowser::open() {
  auto entry = selected();
  if (!entry || !(*_map)[*entry].isDirectory()) return false;
  _folder = *entry;
  _cursor = _top = 0;
  rebuildRows(std::nullopt);
  return true;
}

bool DiskMapBrowser::goUp() {
  if (_folder == DiskMap::rootIndex) return false;
  const Index left = _folder;
  _folder = (*_map)[_folder].parent;
  rebuildRows(left);
  return true;
}

bool DiskMapBrowser::openPath(std::string_view relativePath) {
  _folder = DiskMap::rootIndex;
  bool whole = true;
  while (!relativePath.empty()) {
    const auto slash = relativePath.find('/');
    const std::string_view name = relativePath.substr(0, slash);
    relativePath = slash == std::string_view::npos ? std::string_view() : relativePath.substr(slash + 1);
    if (name.empty()) continue;
    std::optional<Index> found;
    for (Index child : _map->children(_folder)) {
      const auto& entry = (*_map)[child];
      if (entry.isDirectory() && !_removed[child] && entry.nameView() == name) {
        found = child;
        break;
      }
    }
    if (!found) {
      whole = false;
      break;
    }
    _folder = *found;
  }
  _cursor = _top = 0;
  rebuildRows(std::nullopt);
  return whole;
}

bool DiskMapBrowser::select(Index entry) {
  auto at = std::find(_rows.begin(), _rows.end(), entry);
  if (at == _rows.end()) return false;
  _cursor = static_cast<std::size_t>(at - _rows.begin());
  keepCursorInView();
  return true;
}

void DiskMapBrowser::sortBy(SortKey key) {
  if (key == SortKey::change && !isComparing()) return;
  if (key == _sortKey) {
    _reversed = !_reversed;
  } else {
    _sortKey = key;
    _reversed = false;
  }
  rebuildRows(selected());
}

void DiskMapBrowser::setShowsHidden(bool show) {
  if (show == _showHidden) return;
  _showHidden = show;
  rebuildRows(selected());
}

void DiskMapBrowser::setShowsExcluded(bool show) {
  if (show == _showExcluded) return;
  _showExcluded = show;
  rebuildRows(selected());
}

void DiskMapBrowser::setShowsDiskUsage(bool usage) {
  if (usage == _diskUsage) return;
  _diskUsage = usage;
  rebuildRows(selected());
}

std::int64_t DiskMapBrowser::measure(Index entry) const {
  const auto& data = (*_map)[entry];
  return _diskUsage ? data.usage : data.size;
}

bool DiskMapBrowser::isHidden(Index entry) const { return (*_map)[entry].name[0] == '.'; }

bool DiskMapBrowser::isExcluded(Index entry) const { return ((*_map)[entry].marks & kExcludedMarks) != 0; }

bool DiskMapBrowser::isShown(Index entry) const {
  if (_removed[entry]) return false;
  if (!_showHidden && isHidden(entry)) return false;
  if (!_showExcluded && isExcluded(entry)) return false;
  return true;
}

void DiskMapBrowser::setModificationTimeSource(std::function<std::optional<double>(Index)> source) {
  _modificationTimeSource = std::move(source);
  _modificationTimes.clear();
}

std::optional<double> DiskMapBrowser::modificationTime(Index entry) {
  if (!_modificationTimeSource) return std::nullopt;
  auto found = _modificationTimes.find(entry);
  if (found != _modificationTimes.end()) return found->second;
  auto time = _modificationTimeSource(entry);
  _modificationTimes.emplace(entry, time);
  return time;
}

void DiskMapBrowser::compareWith(const DiskMap& before) {
  const std::size_t count = _map->count();
  _before.assign(count, kAppeared);
  _beforeUsage.assign(count, 0);
  // Matched folders, walked without recursion; children matched by name in byte order.
  std::vector<std::pair<Index, Index>> pending{{DiskMap::rootIndex, DiskMap::rootIndex}};
  std::vector<Index> mine, theirs;
  while (!pending.empty()) {
    const auto [now, then] = pending.back();
    pending.pop_back();
    _before[now] = before[then].size;
    _beforeUsage[now] = before[then].usage;
    if (!(*_map)[now].isDirectory() || !before[then].isDirectory()) continue;
    _map->childrenByName(now, mine);
    before.childrenByName(then, theirs);
    std::size_t a = 0, b = 0;
    while (a < mine.size() && b < theirs.size()) {
      const int order = std::strcmp((*_map)[mine[a]].name, before[theirs[b]].name);
      if (order < 0) {
        ++a;
      } else if (order > 0) {
        ++b;
      } else {
        if ((*_map)[mine[a]].type == before[theirs[b]].type) pending.emplace_back(mine[a], theirs[b]);
        ++a;
        ++b;
      }
    }
  }
  rebuildRows(selected());
}

std::optional<DiskMapBrowser::Change> DiskMapBrowser::change(Index entry) const {
  if (!isComparing()) return std::nullopt;
  if (_before[entry] == kAppeared) return Change{Change::Kind::appeared, measure(entry)};
  const std::int64_t difference = measure(entry) - (_diskUsage ? _beforeUsage[entry] : _before[entry]);
  return Change{difference > 0   ? Change::Kind::grew
                : difference < 0 ? Change::Kind::shrank
                                 : Change::Kind::same,
                difference};
}

Result<std::string> DiskMapBrowser::pathForRemoval(Index entry) const {
  using Case = DiskMapBrowserError::Case;
  const DiskMap& map = *_map;
  const std::string shown = map.path(entry);
  if (entry == DiskMap::rootIndex) return makeError<DiskMapBrowserError>(Case::scanRoot, shown);
  std::vector<Index> chain;
  for (Index at = entry; at != DiskMap::rootIndex; at = map[at].parent) {
    if (_removed[at]) return makeError<DiskMapBrowserError>(Case::alreadyRemoved, shown);
    if (!isPlainName(map[at].nameView())) return makeError<DiskMapBrowserError>(Case::unsafeName, shown);
    chain.push_back(at);
  }
  // From the root down: each folder still a folder, not a link to one.
  std::string path = map.rootPath();
  if (platform::pathStatus(path, true).type != platform::FileObjectType::directory)
    return makeError<DiskMapBrowserError>(Case::linkOnPath, shown);
  for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
    if (path.empty() || path.back() != '/') path += '/';
    path += map[*at].nameView();
    const auto status = platform::pathStatus(path, false);
    if (*at != entry) {
      if (status.type != platform::FileObjectType::directory)
        return makeError<DiskMapBrowserError>(Case::linkOnPath, shown);
    } else if (status.type != objectTypeOf(map[entry].nodeType())) {
      return makeError<DiskMapBrowserError>(Case::changedOnDisk, shown);
    }
  }
  return path;
}

void DiskMapBrowser::adjustAncestors(Index entry, std::int64_t size, std::int64_t usage, std::int64_t count) {
  Index at = entry;
  while (at != DiskMap::rootIndex) {
    at = (*_map)[at].parent;
    auto& folder = _map->at(at);
    folder.size += size;
    folder.usage += usage;
    _counts[at] = static_cast<std::uint32_t>(static_cast<std::int64_t>(_counts[at]) + count);
    // A removed folder's own sums change, but it is no longer in those above it.
    if (_removed[at]) break;
  }
}

void DiskMapBrowser::markRemoved(Index entry) {
  if (entry == DiskMap::rootIndex || _removed[entry]) return;
  const auto& data = (*_map)[entry];
  const bool counted = !data.hasMark(FileNode::duplicateLink);
  adjustAncestors(entry, counted ? -data.size : 0, counted ? -data.usage : 0,
                  -static_cast<std::int64_t>(_counts[entry]) - 1);
  _removed[entry] = true;
  auto at = std::find(_rows.begin(), _rows.end(), entry);
  if (at != _rows.end()) {
    _rows.erase(at);
    keepCursorInView();
  }
}

void DiskMapBrowser::markRestored(Index entry) {
  if (entry == DiskMap::rootIndex || !_removed[entry]) return;
  _removed[entry] = false;
  const auto& data = (*_map)[entry];
  const bool counted = !data.hasMark(FileNode::duplicateLink);
  adjustAncestors(entry, counted ? data.size : 0, counted ? data.usage : 0,
                  static_cast<std::int64_t>(_counts[entry]) + 1);
  if (data.parent == _folder) rebuildRows(entry);
}

Result<DiskMapBrowser::Trashed> DiskMapBrowser::trashSelected(platform::Trash& trash) {
  const auto entry = selected();
  if (!entry) return makeError<DiskMapBrowserError>(DiskMapBrowserError::Case::scanRoot, _map->rootPath());
  auto path = pathForRemoval(*entry);
  if (!path) return path.error();
  auto moved = trash.moveToTrash(*path);
  if (auto* failure = std::get_if<platform::Trash::Failure>(&moved))
    return makeError<DiskMapBrowserError>(DiskMapBrowserError::Case::trashFailed, *path, failure->reason);
  Trashed trashed{*entry, std::get<platform::Trash::Item>(std::move(moved)), measure(*entry)};
  markRemoved(*entry);
  _trashed.push_back(trashed);
  return trashed;
}

Result<DiskMapBrowser::Trashed> DiskMapBrowser::restore(std::size_t which, platform::Trash& trash) {
  if (which >= _trashed.size()) return makeError<DiskMapBrowserError>(DiskMapBrowserError::Case::restoreFailed, "", "no such item");
  Trashed trashed = _trashed[which];
  if (auto failure = trash.restore(trashed.item))
    return makeError<DiskMapBrowserError>(DiskMapBrowserError::Case::restoreFailed, trashed.item.originalPath,
                                          failure->reason);
  _trashed.erase(_trashed.begin() + static_cast<std::ptrdiff_t>(which));
  if (trashed.entry) markRestored(*trashed.entry);
  return trashed;
}

Result<std::string> DiskMapBrowser::removeSelectedPermanently(platform::Trash& trash) {
  const auto entry = selected();
  if (!entry) return makeError<DiskMapBrowserError>(DiskMapBrowserError::Case::scanRoot, _map->rootPath());
  auto path = pathForRemoval(*entry);
  if (!path) return path.error();
  const auto failure = trash.removePermanently(*path);
  // Whatever happened, the map follows the disk: out only when it is gone.
  const bool gone = platform::pathStatus(*path, false).error == std::errc::no_such_file_or_directory;
  if (gone) markRemoved(*entry);
  if (failure || !gone)
    return makeError<DiskMapBrowserError>(DiskMapBrowserError::Case::removeFailed, *path,
                                          failure ? failure->reason : std::string("it is still there"));
  return path;
}

void DiskMapBrowser::takeTrashedFrom(DiskMapBrowser& earlier) {
  for (auto& trashed : earlier._trashed) {
    trashed.entry.reset();
    _trashed.push_back(std::move(trashed));
  }
  earlier._trashed.clear();
}

void DiskMapBrowser::rebuildRows(std::optional<Index> keep) {
  _rows.clear();
  // Rows start in name order, so that the stable sort below leaves ties in name order.
  if (_map->namesInOrder()) {
    for (Index child : _map->children(_folder))
      if (isShown(child)) _rows.push_back(child);
  } else {
    if (_nameOrderFolder != _folder) {
      _map->childrenByName(_folder, _nameOrder);
      _nameOrderFolder = _folder;
    }
    for (Index child : _nameOrder)
      if (isShown(child)) _rows.push_back(child);
  }
  sortRows();
  if (!keep || !select(*keep)) keepCursorInView();
}

namespace {

// Order-keeping unsigned forms of the sort keys.
std::uint64_t orderKey(std::int64_t value) { return static_cast<std::uint64_t>(value) ^ (std::uint64_t{1} << 63); }
std::uint64_t orderKey(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

// A stable least-significant-byte radix sort of rows by keys (ascending), skipping the bytes
// in which all keys agree: a million rows in a few passes over memory, no comparisons.
void radixSort(std::vector<std::uint64_t>& keys, std::vector<DiskMap::Index>& rows) {
  const std::size_t count = rows.size();
  if (count < 2) return;
  std::array<std::array<std::size_t, 256>, 8> counts{};
  for (std::uint64_t key : keys)
    for (unsigned byte = 0; byte < 8; ++byte) ++counts[byte][(key >> (8 * byte)) & 0xFF];
  std::vector<std::uint64_t> keysOut(count);
  std::vector<DiskMap::Index> rowsOut(count);
  for (unsigned byte = 0; byte < 8; ++byte) {
    auto& bucket = counts[byte];
    if (bucket[(keys[0] >> (8 * byte)) & 0xFF] == count) continue;  // every key alike here
    std::size_t offset = 0;
    for (auto& slot : bucket) {
      const std::size_t size = slot;
      slot = offset;
      offset += size;
    }
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t to = bucket[(keys[i] >> (8 * byte)) & 0xFF]++;
      keysOut[to] = keys[i];
      rowsOut[to] = rows[i];
    }
    keys.swap(keysOut);
    rows.swap(rowsOut);
  }
}

}  // namespace

void DiskMapBrowser::sortRows() {
  if (_sortKey == SortKey::name) {
    if (_reversed) std::reverse(_rows.begin(), _rows.end());
    return;
  }
  // Largest first unless reversed; ties stay in name order either way.
  std::vector<std::uint64_t> keys(_rows.size());
  auto fill = [&](auto keyOf) {
    for (std::size_t i = 0; i < _rows.size(); ++i) {
      const std::uint64_t key = orderKey(keyOf(_rows[i]));
      keys[i] = _reversed ? key : ~key;
    }
  };
  switch (_sortKey) {
    case SortKey::name: break;
    case SortKey::size: fill([this](Index row) { return measure(row); }); break;
    case SortKey::itemCount: fill([this](Index row) { return static_cast<std::int64_t>(_counts[row]); }); break;
    case SortKey::modified:
      // Unknown times count as the oldest.
      fill([this](Index row) { return modificationTime(row).value_or(-std::numeric_limits<double>::infinity()); });
      break;
    case SortKey::change: fill([this](Index row) { return change(row)->difference; }); break;
  }
  radixSort(keys, _rows);
}

}  // namespace vantelkit
