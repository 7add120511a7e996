#include "scanning/internal/MapScanOperation.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "scanning/internal/FolderWalk.h"
#include "scanning/internal/DiskScanRun.h"

namespace vantelkit::internal {

namespace {

using platform::DirectoryReader;

// Writes each listing into the map as one block of consecutive entries; names are gathered
// per listing and copied once.
class MapBuilder {
 public:
  // Every entry of a listing is kept, with its own size (a folder's own beneath its sum).
  static constexpr bool keepsEveryType = true;
  struct Folder {
    DiskMap::Index index = DiskMap::rootIndex;
    bool valid = false;
    explicit operator bool() const { return valid; }
  };

  MapBuilder(DiskScanRun& run, DiskMap& map) : _run(run), _map(map), _namesInOrder(run.mapChoices.namesInOrder) {}
  ~MapBuilder() {
    if (!_links.empty()) _run.recordMapHardLinks(_links);
  }
  MapBuilder(const MapBuilder&) = delete;
  MapBuilder& operator=(const MapBuilder&) = delete;

  static Folder folder(DiskMap::Index index) { return {index, true}; }

  std::string path(const Folder& folder) const { return _map.path(folder.index); }
  std::string_view name(const Folder& folder) const { return _map[folder.index].name; }
  bool isChildOf(const Folder& folder, const Folder& parent) const {
    return folder.index != DiskMap::rootIndex && _map[folder.index].parent == parent.index;
  }
  void noteListing(const Folder& folder) { _run.noteMapListing(folder.index); }
  void mark(const Folder& folder, FileNode::Mark mark) {
    auto& entry = _map.at(folder.index);
    entry.marks = static_cast<std::uint8_t>(entry.marks | mark);
  }
  void setError(const Folder& folder, int error) {
    _map.at(folder.index).error = static_cast<std::uint16_t>(error);
    mark(folder, FileNode::unreadable);
  }
  std::size_t listingSize() const { return _pending.size(); }

  void beginListing(const Folder&) { clearListing(); }

  void addEntry(const DirectoryReader::Entry& entry, bool isDirectory) {
    Pending pending;
    pending.nameOffset = _names.size();
    _names.append(entry.name);
    _names.push_back('\0');
    pending.type = static_cast<std::uint8_t>(isDirectory ? FileNode::NodeType::directory : nodeType(entry.type));
    pending.size = entry.size;
    pending.usage = entry.usage;
    _newestModification = std::max(_newestModification, entry.modified);
    if (!isDirectory && entry.linkCount > 1 && entry.error == 0) {
      pending.marks = FileNode::hardLink;
      _pendingLinks.push_back({static_cast<DiskMap::Index>(_pending.size()), entry.device, entry.inode,
                               entry.linkCount});
    }
    if (entry.error != 0) {
      pending.error = static_cast<std::uint16_t>(entry.error);
      pending.marks = static_cast<std::uint8_t>(pending.marks | FileNode::unreadable);
    }
    _pending.push_back(pending);
  }

  void clearListing() {
    _newestModification = 0;
    _pending.clear();
    _names.clear();
    _pendingLinks.clear();
  }

  bool commitListing(const Folder& parent, std::int64_t, std::int64_t, std::vector<Subfolder<Folder>>& subfolders) {
    auto& folderEntry = _map.at(parent.index);
    folderEntry.firstChild = 0;
    folderEntry.childCount = 0;
    if (_pending.empty()) return true;
    if (const auto& listed = _run.mapChoices.listed) listed(parent.index, _newestModification);
    DiskMap::Block block = _map.reserve(_pending.size(), _names.size());
    if (!block.reserved) {
      clearListing();
      return false;
    }
    std::memcpy(block.names, _names.data(), _names.size());
    // The entries' places in the block: listing order, or their names' order.
    _order.resize(_pending.size());
    for (std::size_t i = 0; i < _order.size(); ++i) _order[i] = static_cast<DiskMap::Index>(i);
    if (_namesInOrder) {
      const char* names = _names.data();
      std::sort(_order.begin(), _order.end(), [this, names](DiskMap::Index a, DiskMap::Index b) {
        return std::strcmp(names + _pending[a].nameOffset, names + _pending[b].nameOffset) < 0;
      });
    }
    for (std::size_t i = 0; i < _pending.size(); ++i) {
      const Pending& pending = _pending[_order[i]];
      _pending[_order[i]].place = static_cast<DiskMap::Index>(i);
      auto index = static_cast<DiskMap::Index>(block.first + i);
      DiskMap::Entry& entry = _map.at(index);
      entry.size = pending.size;
      entry.usage = pending.usage;
      entry.name = block.names + pending.nameOffset;
      entry.parent = parent.index;
      entry.firstChild = 0;
      entry.childCount = 0;
      entry.type = pending.type;
      entry.marks = pending.marks;
      entry.error = pending.error;
      if (entry.isDirectory()) {
        subfolders.push_back({folder(index), entry.name, entry.hasMark(FileNode::unreadable)});
      }
    }
    folderEntry.firstChild = block.first;
    folderEntry.childCount = static_cast<DiskMap::Index>(_pending.size());
    for (auto link : _pendingLinks) {
      link.entry = block.first + _pending[link.entry].place;
      _links.push_back(link);
    }
    _run.addFilesScanned(static_cast<std::int64_t>(_pending.size()));
    if (const auto& counted = _run.mapChoices.counted) {
      std::int64_t accepted = 0;
      for (std::size_t i = 0; i < _pending.size(); ++i)
        accepted += counted(_map[block.first + static_cast<DiskMap::Index>(i)]) ? 1 : 0;
      if (accepted != 0) _run.addCountedEntries(accepted);
    }
    return true;
  }

  void queue(const Folder& folder, std::size_t depth) { _run.addMapOperation(folder.index, depth, true); }

 private:
  // An entry that is not a folder: a file unless the listing said otherwise (an entry whose
  // status could not be read counts as a file).
  static FileNode::NodeType nodeType(platform::FileObjectType type) {
    using platform::FileObjectType;
    switch (type) {
      case FileObjectType::symbolicLink: return FileNode::NodeType::link;
      case FileObjectType::fifo: return FileNode::NodeType::fifo;
      case FileObjectType::socket: return FileNode::NodeType::socket;
      case FileObjectType::blockSpecial: return FileNode::NodeType::block;
      case FileObjectType::charSpecial: return FileNode::NodeType::character;
      default: return FileNode::NodeType::file;
    }
  }

  struct Pending {
    std::int64_t size = 0;
    std::int64_t usage = 0;
    std::size_t nameOffset = 0;
    std::uint8_t type = 0;
    std::uint8_t marks = 0;
    std::uint16_t error = 0;
    DiskMap::Index place = 0;  // in the committed block
  };

  DiskScanRun& _run;
  DiskMap& _map;
  bool _namesInOrder;
  std::vector<Pending> _pending;
  std::vector<DiskMap::Index> _order;
  std::string _names;
  std::vector<DiskMap::HardLink> _pendingLinks;  // entry: the position in _pending
  std::int64_t _newestModification = 0;           // of the listing's entries
  std::vector<DiskMap::HardLink> _links;
};
static_assert(internal::FolderBuilder<MapBuilder>);

}  // namespace

MapScanOperation::MapScanOperation(std::shared_ptr<DiskScanRun> run, DiskMap::Index folder, std::size_t depth)
    : _run(std::move(run)), _folder(folder), _depth(depth) {
  setQualityOfService(QualityOfService::userInitiated);
}

void MapScanOperation::main() {
  _started = true;
  _run->operationDidStartOrDrop();
  MapBuilder builder(*_run, *_run->map);
  walkFolders(*_run, builder, MapBuilder::folder(_folder), _depth, _run->mapChoices.fileSizes);
}

void MapScanOperation::operationDidFinish() {
  // A dropped operation (cancelled before it started) still leaves the waiting count.
  if (!_started) {
    _run->operationDidStartOrDrop();
    _run->markNotListed(_folder);
  }
  _run->releaseTraversalSlot();
}

}  // namespace vantelkit::internal
