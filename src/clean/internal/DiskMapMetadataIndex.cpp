#include "clean/internal/DiskMapMetadataIndex.h"

#include <atomic>

#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/scanning/DiskScanner.h"

namespace vantelkit::internal {

namespace {

class EntrySubject final : public MetadataSubject {
 public:
  EntrySubject(const DiskMap& map, DiskMap::Index index) : _map(map), _index(index) {}
  std::string_view name() const override { return _map[_index].nameView(); }
  std::string path() const override {
    if (!_path) _path = _map.path(_index);
    return *_path;
  }
  std::optional<std::int64_t> size() const override {
    const auto& entry = _map[_index];
    return entry.isDirectory() ? 0 : entry.size;
  }
  std::optional<Date> contentModificationDate() const override {
    auto seconds = platform::fileModificationTimeNotFollowingLink(path());
    if (!seconds) return std::nullopt;
    return Date{*seconds};
  }

 private:
  const DiskMap& _map;
  const DiskMap::Index _index;
  mutable std::optional<std::string> _path;
};

class Answered final : public MetadataIndex::Gathering {
 public:
  void cancel() override { cancelled.store(true); }
  bool finishEarly() override { return true; }
  std::atomic<bool> cancelled{false};
};

}  // namespace

void DiskMapMetadataIndex::setMap(std::shared_ptr<DiskMap> map) {
  std::lock_guard lock(_mutex);
  _map = std::move(map);
}

std::shared_ptr<MetadataIndex::Gathering> DiskMapMetadataIndex::gather(const MetadataPredicate& predicate,
                                                                       const std::vector<std::string>& scopes,
                                                                       Completion completion) {
  std::shared_ptr<DiskMap> map;
  {
    std::lock_guard lock(_mutex);
    map = _map;
  }
  if (!map || scopes.size() != 1 || scopes.front() != map->rootPath()) {
    return MetadataIndex::shared()->gather(predicate, scopes, std::move(completion));
  }
  auto handle = std::make_shared<Answered>();
  // Answered on a thread of its own, never inside gather(), whose caller may hold a lock.
  DispatchQueue::global(QualityOfService::userInitiated)
      ->async([map, predicate, handle, completion = std::move(completion)] {
        Items items;
        map->visit(
            DiskMap::rootIndex, DiskMap::Order::map,
            [&](DiskMap::Index index, std::size_t depth) {
              if (handle->cancelled.load()) return false;
              const auto& entry = (*map)[index];
              const auto name = entry.nameView();
              if (depth == 0) return true;
              if (entry.isDirectory() && !name.empty() && name.front() == '.') return false;
              const auto type = entry.nodeType();
              if (type != FileNode::NodeType::file && type != FileNode::NodeType::directory) return false;
              EntrySubject subject(*map, index);
              if (predicate.evaluate(subject)) {
                MetadataItem::Attributes attributes;
                attributes.emplace("kMDItemPath", subject.path());
                attributes.emplace("kMDItemFSName", std::string(name));
                attributes.emplace("kMDItemDisplayName", std::string(name));
                attributes.emplace("kMDItemFSSize", entry.isDirectory() ? std::int64_t{0} : entry.size);
                attributes.emplace("kMDItemPhysicalSize", entry.isDirectory() ? std::int64_t{0} : entry.usage);
                items.push_back(std::make_shared<const MetadataItem>(std::move(attributes)));
              }
              return entry.isDirectory() && !DiskScanner::isBundleName(name);
            },
            [](DiskMap::Index, std::size_t) {});
        if (handle->cancelled.load()) return;
        completion(std::move(items), map->unreadableEntries());
      });
  return handle;
}

}  // namespace vantelkit::internal
