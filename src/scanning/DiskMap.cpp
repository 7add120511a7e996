#include "vantelkit/scanning/DiskMap.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace vantelkit {

DiskMap::DiskMap(const FileURL& root) : _rootPath(root.path()), _chunks(new Entry*[kChunkSlots]()) {
  const std::string& name = root.lastPathComponent();
  Block block = reserve(1, name.size() + 1);
  std::memcpy(block.names, name.c_str(), name.size() + 1);
  at(rootIndex) = Entry{0, 0, block.names, rootIndex, 0, 0, static_cast<std::uint8_t>(FileNode::NodeType::directory),
                        0, 0};
}

DiskMap::~DiskMap() {
  for (std::size_t chunk = 0; chunk < kChunkSlots && _chunks[chunk] != nullptr; ++chunk) delete[] _chunks[chunk];
}

DiskMap::Block DiskMap::reserve(std::size_t count, std::size_t nameBytes) {
  std::lock_guard lock(_reserveMutex);
  Block block;
  if (count > capacity - _reserved) return block;
  const std::uint64_t end = _reserved + count;
  if (count > 0) {
    for (std::uint64_t chunk = _reserved >> kChunkBits; chunk <= (end - 1) >> kChunkBits; ++chunk) {
      // Entries are plain data: the pool's pages are touched only as entries are written.
      if (_chunks[chunk] == nullptr) _chunks[chunk] = new Entry[std::size_t{1} << kChunkBits];
    }
  }
  if (nameBytes > _nameLeft) {
    // A listing's names share one block; a listing larger than a block gets its own.
    std::size_t size = std::max(nameBytes, kNameBlockBytes);
    _nameBlocks.emplace_back(new char[size]);
    _nameBytesHeld += size;
    _nameCursor = _nameBlocks.back().get();
    _nameLeft = size;
  }
  block.reserved = true;
  block.first = static_cast<Index>(_reserved);
  block.names = _nameCursor;
  _nameCursor += nameBytes;
  _nameLeft -= nameBytes;
  _reserved = end;
  _count.store(end, std::memory_order_release);
  return block;
}

std::string DiskMap::relativePath(Index index) const {
  std::vector<Index> chain;
  while (index != rootIndex) {
    chain.push_back(index);
    index = (*this)[index].parent;
  }
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += '/';
    path += (*this)[*it].name;
  }
  return path;
}

std::string DiskMap::path(Index index) const {
  std::string below = relativePath(index);
  if (below.empty()) return _rootPath;
  std::string path = _rootPath;
  if (path.empty() || path.back() != '/') path += '/';
  return path + below;
}

void DiskMap::childrenByName(Index folder, std::vector<Index>& into) const {
  auto run = children(folder);
  into.assign(run.begin(), run.end());
  if (_namesInOrder) return;
  std::sort(into.begin(), into.end(),
            [this](Index a, Index b) { return std::strcmp((*this)[a].name, (*this)[b].name) < 0; });
}

void DiskMap::pathSlots(Index folder, std::vector<PathSlot>& slots) const {
  slots.clear();
  const Entry& entry = (*this)[folder];
  slots.reserve(std::size_t{entry.childCount} * 2);
  for (Index child : children(folder)) {
    slots.push_back({child, false, false});
    if ((*this)[child].childCount > 0) slots.push_back({child, true, false});
  }
  // Within one folder: an entry's own path is its name; the paths below a folder all start
  // with its name and "/".
  auto before = [this](const PathSlot& a, const PathSlot& b) {
    std::string_view x = (*this)[a.index].nameView(), y = (*this)[b.index].nameView();
    std::size_t common = std::min(x.size(), y.size());
    if (int order = std::memcmp(x.data(), y.data(), common); order != 0) return order < 0;
    auto next = [common](std::string_view name, bool below) -> int {
      if (common < name.size()) return static_cast<unsigned char>(name[common]);
      return below ? '/' : -1;
    };
    return next(x, a.below) < next(y, b.below);
  };
  bool sorted = false;
  if (_namesInOrder) {
    // Already in order but for a few names that sort before a folder's "/" (such as
    // "a.txt" before "a/..."): an insertion sort moves only those, within a budget of moves
    // that keeps a folder built to defeat it linear.
    std::size_t budget = 8 * slots.size() + 64;
    sorted = true;
    for (std::size_t i = 1; i < slots.size() && sorted; ++i) {
      for (std::size_t j = i; j > 0 && before(slots[j], slots[j - 1]); --j) {
        std::swap(slots[j], slots[j - 1]);
        if (--budget == 0) {
          sorted = false;
          break;
        }
      }
    }
  }
  if (!sorted) std::sort(slots.begin(), slots.end(), before);
}

std::size_t DiskMap::memoryUsed() const {
  std::lock_guard lock(_reserveMutex);
  std::size_t chunks = 0;
  while (chunks < kChunkSlots && _chunks[chunks] != nullptr) ++chunks;
  return sizeof(*this) + kChunkSlots * sizeof(Entry*) + chunks * (sizeof(Entry) << kChunkBits) + _nameBytesHeld;
}

void DiskMap::sumFolders() {
  const auto total = static_cast<Index>(count());
  constexpr auto kShort = FileNode::unreadable | FileNode::notListed | FileNode::partlyRead;
  _notListed = 0;
  for (Index index = total; index-- > 1;) {
    const Entry& entry = (*this)[index];
    Entry& folder = at(entry.parent);
    if (entry.hasMark(FileNode::notListed)) ++_notListed;
    if ((entry.marks & kShort) != 0) folder.marks = static_cast<std::uint8_t>(folder.marks | FileNode::partlyRead);
    if (entry.hasMark(FileNode::duplicateLink)) continue;
    folder.size += entry.size;
    folder.usage += entry.usage;
  }
  if (root().hasMark(FileNode::notListed)) ++_notListed;
}

bool DiskMap::pathOrderBefore(const Entry& a, const Entry& b) {
  std::string_view x = a.nameView(), y = b.nameView();
  const std::size_t common = std::min(x.size(), y.size());
  if (int order = std::memcmp(x.data(), y.data(), common); order != 0) return order < 0;
  auto next = [common](std::string_view name, bool folder) -> int {
    if (common < name.size()) return static_cast<unsigned char>(name[common]);
    return folder ? '/' : -1;
  };
  return next(x, a.isDirectory()) < next(y, b.isDirectory());
}

void DiskMap::settleHardLinks(std::vector<HardLink> links, bool countOnce) {
  if (!links.empty()) {
    // The links' places in path order, from one walk through only the folders that hold
    // them (each folder marked once), so a chain of any depth costs no more than its size.
    std::unordered_map<Index, std::size_t> rank;
    std::unordered_set<Index> holding;
    for (const auto& link : links) {
      rank.emplace(link.entry, 0);
      for (Index folder = (*this)[link.entry].parent; holding.insert(folder).second && folder != rootIndex;)
        folder = (*this)[folder].parent;
    }
    std::size_t next = 0;
    visitArranged(
        rootIndex,
        [&](Index folder, std::vector<Index>& children) {
          for (Index child : this->children(folder))
            if (holding.count(child) != 0 || rank.count(child) != 0) children.push_back(child);
          std::sort(children.begin(), children.end(),
                    [this](Index a, Index b) { return pathOrderBefore((*this)[a], (*this)[b]); });
        },
        [&](Index index, std::size_t) {
          if (auto found = rank.find(index); found != rank.end()) found->second = next++;
          return holding.count(index) != 0;
        },
        [](Index, std::size_t) {});
    std::sort(links.begin(), links.end(), [&rank](const HardLink& x, const HardLink& y) {
      return std::tuple(x.device, x.inode, rank[x.entry]) < std::tuple(y.device, y.inode, rank[y.entry]);
    });
  }
  _hardLinksCountedOnce = countOnce;
  if (countOnce) {
    for (std::size_t i = 1; i < links.size(); ++i) {
      if (links[i].device != links[i - 1].device || links[i].inode != links[i - 1].inode) continue;
      Entry& entry = at(links[i].entry);
      entry.marks = static_cast<std::uint8_t>(entry.marks | FileNode::duplicateLink);
      _totalSize -= entry.size;
      _totalUsage -= entry.usage;
    }
  }
  _hardLinks = std::move(links);
}

void DiskMap::setFigures(std::int64_t totalSize, std::int64_t totalUsage,
                         std::vector<DiskScanResult::UnreadableEntry> unreadable, bool complete, double elapsed,
                         std::int64_t filesScanned, bool hasFileSizes, bool namesInOrder) {
  _totalSize = totalSize;
  _totalUsage = totalUsage;
  _unreadable = std::move(unreadable);
  _complete = complete;
  _elapsed = elapsed;
  _filesScanned = filesScanned;
  _hasFileSizes = hasFileSizes;
  _namesInOrder = namesInOrder;
}

std::shared_ptr<DiskMap> DiskMap::fromTree(const FileNode& root, const DiskScanResult* result) {
  auto map = std::make_shared<DiskMap>(root.url());
  auto fill = [](Entry& entry, const FileNode& node, const char* name, Index parent) {
    entry.size = node.size();
    entry.usage = node.usage();
    entry.name = name;
    entry.parent = parent;
    entry.firstChild = 0;
    entry.childCount = 0;
    entry.type = static_cast<std::uint8_t>(node.type());
    entry.marks = node.marks();
    entry.error = static_cast<std::uint16_t>(node.error());
  };
  auto copyName = [](char* into, std::string_view name) {
    std::memcpy(into, name.data(), name.size());
    into[name.size()] = '\0';
    return into + name.size() + 1;
  };
  // The result's hard links, found again by their nodes.
  std::vector<HardLink> links;
  std::unordered_map<const FileNode*, std::size_t> linked;
  if (result) {
    for (const auto& link : result->hardLinks()) {
      linked.emplace(link.node.get(), links.size());
      links.push_back({rootIndex, link.device, link.inode, link.linkCount});
    }
  }
  fill(map->at(rootIndex), root, map->root().name, rootIndex);
  // Breadth-first, so that each folder's children get consecutive indices.
  std::deque<std::pair<const FileNode*, Index>> folders{{&root, rootIndex}};
  while (!folders.empty()) {
    auto [node, index] = folders.front();
    folders.pop_front();
    const auto& children = node->children();
    if (children.empty()) continue;
    std::size_t nameBytes = 0;
    for (const auto& child : children) nameBytes += child->name().size() + 1;
    Block run = map->reserve(children.size(), nameBytes);
    if (!run.reserved) break;  // more entries than a map can hold: the rest is left out
    map->at(index).firstChild = run.first;
    map->at(index).childCount = static_cast<Index>(children.size());
    char* name = run.names;
    for (std::size_t i = 0; i < children.size(); ++i) {
      const FileNode& child = *children[i];
      fill(map->at(static_cast<Index>(run.first + i)), child, name, index);
      name = copyName(name, child.name());
      if (!linked.empty()) {
        if (auto found = linked.find(&child); found != linked.end()) links[found->second].entry = run.first + static_cast<Index>(i);
      }
      if (!child.children().empty()) folders.emplace_back(&child, static_cast<Index>(run.first + i));
    }
  }
  if (result) {
    map->setFigures(result->totalSize(), result->totalUsage(), result->unreadableEntries(), result->isComplete(),
                    result->elapsed(), result->totalFilesScanned(), true, false);
    map->_hardLinksCountedOnce = result->hardLinksCountedOnce();
    map->_hardLinks = std::move(links);
  } else {
    map->setFigures(root.size(), root.usage(), {}, true, 0, static_cast<std::int64_t>(map->count()) - 1, true, false);
  }
  return map;
}

}  // namespace vantelkit
