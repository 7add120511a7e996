#include "vantelkit/metadata/WalkingMetadataIndex.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "vantelkit/scanning/DiskScanner.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/FileStatus.h"

namespace vantelkit {

namespace {

using Clock = std::chrono::steady_clock;
using Index = DiskMap::Index;
using platform::DirectoryReader;

bool isHiddenName(std::string_view name) { return !name.empty() && name.front() == '.'; }

// Whether path, below the scope whose path is scopeLength bytes long, lies inside a folder
// whose name starts with "." (or is one, when it is a folder).
bool liesInHiddenFolder(std::string_view path, std::size_t scopeLength, bool isDirectory) {
  if (path.size() <= scopeLength) return false;
  std::string_view below = path.substr(scopeLength);
  std::size_t start = 0;
  while (start < below.size()) {
    while (start < below.size() && below[start] == '/') ++start;
    const std::size_t end = below.find('/', start);
    const bool last = end == std::string_view::npos;
    if ((!last || isDirectory) && isHiddenName(below.substr(start, last ? std::string_view::npos : end - start)))
      return true;
    if (last) break;
    start = end + 1;
  }
  return false;
}

// An entry of a walk's map as a predicate sees it; the path is made once, when first asked for.
class EntrySubject final : public MetadataSubject {
 public:
  EntrySubject(const DiskMap& map, Index index) : _map(map), _index(index) {}
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
  const Index _index;
  mutable std::optional<std::string> _path;
};

// Folders deeper than this below the scope have their files' statuses read by listing them
// again through the folder listed just before, when that is their parent, instead of by
// their whole path: what keeps a chain of folders linear.
constexpr std::uint32_t kDeepFolder = 64;
constexpr int kNoSuchEntry = static_cast<int>(std::errc::no_such_file_or_directory);
// Reads the statuses of files of a map, given in index order (so that the children of one
// folder come together, as a folder's children are one run of indices): one readStatuses()
// per folder, or a listing for a deep one. handle(index, entry) gets each file's status, or
// its error (a folder that cannot be opened gives its error to each of its files, a file no
// longer listed is gone).
template <class Handle>
void readStatusesOf(DirectoryReader& reader, const DiskMap& map, const std::vector<Index>& files, Handle&& handle) {
  class Visitor final : public DirectoryReader::Visitor {
   public:
    Visitor(const std::vector<Index>& files, std::size_t first, Handle& handle)
        : _files(files), _next(first), _handle(handle) {}
    void visit(const DirectoryReader::Entry& entry) override { _handle(_files[_next++], entry); }
    void failed(std::error_code error) override { failure = error; }
    std::size_t next() const { return _next; }
    std::error_code failure;

   private:
    const std::vector<Index>& _files;
    std::size_t _next;
    Handle& _handle;
  };
  // Picks the files of one folder out of its listing.
  class Relisting final : public DirectoryReader::Visitor {
   public:
    Relisting(const DiskMap& map, const std::vector<Index>& files, std::size_t first, std::size_t end, Handle& handle)
        : _files(files), _first(first), _handle(handle), _seen(end - first, false) {
      for (std::size_t i = first; i < end; ++i) _positions.emplace(map[files[i]].nameView(), i);
    }
    bool wantsFileStatus() const override { return true; }
    void visit(const DirectoryReader::Entry& entry) override {
      auto found = _positions.find(entry.name);
      if (found == _positions.end() || _seen[found->second - _first]) return;
      _seen[found->second - _first] = true;
      _handle(_files[found->second], entry);
    }
    void failed(std::error_code error) override { failure = error; }
    bool seen(std::size_t i) const { return _seen[i - _first]; }
    std::error_code failure;

   private:
    const std::vector<Index>& _files;
    std::size_t _first;
    Handle& _handle;
    std::unordered_map<std::string_view, std::size_t> _positions;
    std::vector<bool> _seen;
  };
  std::unordered_map<Index, std::uint32_t> depths{{DiskMap::rootIndex, 0}};
  auto depthOf = [&](Index folder) {
    std::vector<Index> chain;
    while (!depths.count(folder)) {
      chain.push_back(folder);
      folder = map[folder].parent;
    }
    std::uint32_t depth = depths[folder];
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) depths[*it] = ++depth;
    return depth;
  };
  std::unique_ptr<DirectoryReader::Held> held;
  Index heldFolder = DiskMap::rootIndex;
  std::vector<std::string_view> names;
  for (std::size_t start = 0; start < files.size();) {
    const Index parent = map[files[start]].parent;
    std::size_t end = start;
    while (end < files.size() && map[files[end]].parent == parent) ++end;
    DirectoryReader::Entry failed;
    std::size_t from = end;
    if (depthOf(parent) <= kDeepFolder) {
      held.reset();
      names.clear();
      for (std::size_t i = start; i < end; ++i) names.push_back(map[files[i]].nameView());
      Visitor visitor(files, start, handle);
      if (reader.readStatuses(map.path(parent), names, visitor) != DirectoryReader::Status::complete) {
        failed.error = visitor.failure ? visitor.failure.value() : static_cast<int>(std::errc::io_error);
        from = visitor.next();
      }
    } else {
      Relisting relisting(map, files, start, end, handle);
      std::unique_ptr<DirectoryReader::Held> kept;
      DirectoryReader::Status status;
      if (held && map[parent].parent == heldFolder) {
        status = reader.listSubdirectory(std::move(held), map[parent].nameView(), [&] { return map.path(parent); },
                                         relisting, kept);
      } else {
        held.reset();
        status = reader.listKeeping(map.path(parent), false, relisting, kept);
      }
      held = std::move(kept);
      heldFolder = parent;
      failed.error = status == DirectoryReader::Status::complete ? kNoSuchEntry
                     : relisting.failure                         ? relisting.failure.value()
                                                                 : static_cast<int>(std::errc::io_error);
      for (std::size_t i = start; i < end; ++i) {
        if (relisting.seen(i)) continue;
        failed.name = map[files[i]].nameView();
        handle(files[i], failed);
      }
      from = end;
    }
    for (std::size_t i = from; i < end; ++i) {
      failed.name = map[files[i]].nameView();
      handle(files[i], failed);
    }
    start = end;
  }
}

// A name as a predicate on names alone sees it.
class NameSubject final : public MetadataSubject {
 public:
  explicit NameSubject(std::string_view name) : _name(name) {}
  std::string_view name() const override { return _name; }
  std::string path() const override { return {}; }
  std::optional<std::int64_t> size() const override { return std::nullopt; }
  std::optional<Date> contentModificationDate() const override { return std::nullopt; }

 private:
  std::string_view _name;
};

bool testsNamesOnly(const MetadataPredicate& predicate) {
  return !predicate.usesAttribute(MetadataAttribute::path) && !predicate.usesAttribute(MetadataAttribute::fsSize) &&
         !predicate.usesAttribute(MetadataAttribute::contentModificationDate);
}

void sortUnreadable(MetadataIndex::Unreadable& unreadable) {
  std::sort(unreadable.begin(), unreadable.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  unreadable.erase(std::unique(unreadable.begin(), unreadable.end()), unreadable.end());
}


std::mutex sharedIndexMutex;
std::shared_ptr<MetadataIndex> sharedIndex;  // guarded by sharedIndexMutex

}  // namespace

std::shared_ptr<MetadataIndex> MetadataIndex::shared() {
  std::lock_guard lock(sharedIndexMutex);
  if (!sharedIndex) sharedIndex = WalkingMetadataIndex::make();
  return sharedIndex;
}

void MetadataIndex::setShared(std::shared_ptr<MetadataIndex> index) {
  std::lock_guard lock(sharedIndexMutex);
  sharedIndex = std::move(index);
}

// One walk of one scope. The fields up to map are guarded by the index's mutex; map and
// unreadable are set once under it when the walk ends, and afterwards read under access
// shared and changed (when every size is read after a walk without them) under it alone.
struct WalkingMetadataIndex::Walk {
  std::string scope;
  bool entersHiddenFolders = false;
  bool readsSizes = false;  // the walk reads file statuses as it lists
  // Without them: the files whose names this predicate (on names alone) accepts are read with
  // their statuses all the same; its canonical text tells which queries it serves.
  std::optional<MetadataPredicate> statusesFor;
  std::string statusesForText;
  std::shared_ptr<DirectoryReader> reader;
  std::shared_ptr<DiskScanner> scanner;
  std::vector<std::shared_ptr<Request>> waiting;
  bool finished = false;
  bool cancelled = false;
  Clock::time_point finishedAt;
  std::shared_ptr<DiskMap> map;
  Unreadable unreadable;
  std::shared_mutex access;
  bool hasSizes = false;  // every file's size is in map
};

struct WalkingMetadataIndex::Request final : public MetadataIndex::Gathering,
                                             public std::enable_shared_from_this<WalkingMetadataIndex::Request> {
  Request(std::weak_ptr<WalkingMetadataIndex> owner, MetadataPredicate condition, MetadataSearchOptions choices,
          Completion handler)
      : index(std::move(owner)), predicate(std::move(condition)), options(choices),
        needsSizes(predicate.usesAttribute(MetadataAttribute::fsSize)), namesOnly(testsNamesOnly(predicate)),
        predicateText(namesOnly ? predicate.format() : std::string()), completion(std::move(handler)) {}

  void cancel() override {
    if (auto strong = index.lock()) strong->cancel(*this);
    std::lock_guard lock(completionMutex);
    cancelled = true;
    completion = nullptr;
  }

  bool finishEarly() override {
    if (auto strong = index.lock()) {
      strong->finishEarly(*this);
      return true;
    }
    cancel();
    return false;
  }

  const std::weak_ptr<WalkingMetadataIndex> index;
  const MetadataPredicate predicate;
  const MetadataSearchOptions options;
  const bool needsSizes;  // the predicate tests every file's size
  const bool namesOnly;   // it tests names and nothing else
  const std::string predicateText;  // its canonical text, when it tests names only
  // Guarded by the index's mutex:
  std::vector<std::shared_ptr<Walk>> walks;
  std::size_t remaining = 0;
  bool detached = false;
  // Guarded by completionMutex (not held while the completion runs, so that the completion
  // may drop the last reference to whoever cancels):
  std::mutex completionMutex;
  bool cancelled = false;
  Completion completion;
};

std::shared_ptr<WalkingMetadataIndex> WalkingMetadataIndex::make(std::shared_ptr<platform::DirectoryReader> reader,
                                                                 double sharingWindow) {
  return std::shared_ptr<WalkingMetadataIndex>(new WalkingMetadataIndex(std::move(reader), sharingWindow));
}

WalkingMetadataIndex::WalkingMetadataIndex(std::shared_ptr<platform::DirectoryReader> reader, double sharingWindow)
    : _reader(reader ? std::move(reader) : platform::DirectoryReader::shared()), _sharingWindow(sharingWindow) {}

WalkingMetadataIndex::~WalkingMetadataIndex() {
  std::lock_guard lock(_mutex);
  for (auto& [scope, walk] : _walks)
    if (!walk->finished) walk->scanner->cancel();
}

std::shared_ptr<MetadataIndex::Gathering> WalkingMetadataIndex::gather(const MetadataPredicate& predicate,
                                                                       const std::vector<std::string>& scopes,
                                                                       Completion completion) {
  return gatherWithOptions(predicate, scopes, MetadataSearchOptions{}, std::move(completion));
}

std::shared_ptr<MetadataIndex::Gathering> WalkingMetadataIndex::gatherWithOptions(const MetadataPredicate& predicate,
                                                                                  const std::vector<std::string>& scopes,
                                                                                  const MetadataSearchOptions& options,
                                                                       Completion completion) {
  auto request = std::make_shared<Request>(weak_from_this(), predicate, options, std::move(completion));
  std::vector<std::shared_ptr<Walk>> started;
  {
    std::lock_guard lock(_mutex);
    const auto now = Clock::now();
    std::unordered_set<std::string> seen;
    for (const auto& scope : scopes) {
      std::string path = FileURL::fileURLWithPath(scope, true).path();
      if (!seen.insert(path).second) continue;
      auto& walk = _walks[path];
      const bool reusable =
          walk && !walk->cancelled && (walk->entersHiddenFolders || !options.entersHiddenFolders) &&
          (!walk->finished ||
           std::chrono::duration<double>(now - walk->finishedAt).count() <= _sharingWindow);
      if (!reusable) {
        // A walk still running for others goes on for them; later queries join this one.
        walk = std::make_shared<Walk>();
        walk->scope = path;
        walk->entersHiddenFolders = options.entersHiddenFolders;
        walk->readsSizes = request->needsSizes;
        if (!walk->readsSizes && request->namesOnly) {
          walk->statusesFor = request->predicate;
          walk->statusesForText = request->predicateText;
        }
        walk->reader = _reader;
        walk->scanner = DiskScanner::make({}, _reader);
        started.push_back(walk);
      }
      request->walks.push_back(walk);
      if (!walk->finished) {
        walk->waiting.push_back(request);
        ++request->remaining;
      }
    }
  }
  for (const auto& walk : started) {
    _walksStarted.fetch_add(1, std::memory_order_relaxed);
    std::weak_ptr<WalkingMetadataIndex> weak = weak_from_this();
    DispatchQueue::global(QualityOfService::userInitiated)->async([weak, walk] {
      if (auto self = weak.lock()) self->run(walk);
    });
  }
  bool ready = false;
  {
    std::lock_guard lock(_mutex);
    ready = request->remaining == 0 && !request->detached;
    if (ready) request->detached = true;
  }
  if (ready) DispatchQueue::global(QualityOfService::userInitiated)->async([request] { answer(request); });
  return request;
}

void WalkingMetadataIndex::run(const std::shared_ptr<Walk>& walk) {
  DiskScanner::WalkOptions walkOptions;
  walkOptions.skipHiddenFolders = !walk->entersHiddenFolders;
  walk->scanner->setWalkOptions(std::move(walkOptions));
  MapScanRequest request;
  request.searchBundles = false;
  request.choices.fileSizes = walk->readsSizes;
  if (walk->statusesFor) {
    request.choices.statusWanted = [predicate = *walk->statusesFor](std::string_view name) {
      return predicate.evaluate(NameSubject(name));
    };
  }
  std::shared_ptr<DiskMap> map;
  {
    // The walk blocks this pool thread while its traversals run on others.
    DispatchBlockingScope blocking;
    map = walk->scanner->scanMap(FileURL::fileURLWithPath(walk->scope, true), std::move(request));
  }
  std::vector<std::shared_ptr<Request>> ready;
  bool keep = false;
  {
    std::lock_guard lock(_mutex);
    walk->finished = true;
    walk->finishedAt = Clock::now();
    keep = !walk->cancelled;
    // A stopped walk still answers the query that finished early with what it found.
    walk->unreadable = map->unreadableEntries();
    walk->hasSizes = walk->readsSizes;
    walk->map = std::move(map);
    for (auto& request : walk->waiting) {
      if (--request->remaining == 0 && !request->detached) {
        request->detached = true;
        ready.push_back(request);
      }
    }
    walk->waiting.clear();
  }
  for (auto& request : ready)
    DispatchQueue::global(QualityOfService::userInitiated)->async([request] { answer(request); });
  if (keep) {
    // The entries stay for the sharing window, then go.
    std::weak_ptr<WalkingMetadataIndex> weakIndex = weak_from_this();
    std::weak_ptr<Walk> weakWalk = walk;
    DispatchQueue::global(QualityOfService::utility)->asyncAfter(_sharingWindow, [weakIndex, weakWalk] {
      auto self = weakIndex.lock();
      auto expired = weakWalk.lock();
      if (self && expired) self->forget(expired);
    });
  }
}

void WalkingMetadataIndex::forget(const std::shared_ptr<Walk>& walk) {
  std::lock_guard lock(_mutex);
  auto found = _walks.find(walk->scope);
  if (found != _walks.end() && found->second == walk && walk->finished) _walks.erase(found);
}

void WalkingMetadataIndex::cancel(Request& request) {
  std::lock_guard lock(_mutex);
  request.detached = true;
  for (auto& walk : request.walks) {
    auto& waiting = walk->waiting;
    std::erase_if(waiting, [&request](const std::shared_ptr<Request>& r) { return r.get() == &request; });
    if (!walk->finished && waiting.empty() && !walk->cancelled) {
      // Nobody waits for it any more: stop it, and let the next query start afresh.
      walk->cancelled = true;
      walk->scanner->cancel();
      auto found = _walks.find(walk->scope);
      if (found != _walks.end() && found->second == walk) _walks.erase(found);
    }
  }
  request.walks.clear();
}

void WalkingMetadataIndex::finishEarly(Request& request) {
  bool ready = false;
  {
    std::lock_guard lock(_mutex);
    std::erase_if(request.walks, [this, &request](const std::shared_ptr<Walk>& walk) {
      if (walk->finished) return false;
      auto& waiting = walk->waiting;
      if (waiting.size() > 1) {
        // Others wait for this walk: it goes on for them, and this answer does without it.
        std::erase_if(waiting, [&request](const std::shared_ptr<Request>& r) { return r.get() == &request; });
        --request.remaining;
        return true;
      }
      if (!walk->cancelled) {
        // Stopped, the walk ends soon and answers this request with what it found; it is
        // not reused.
        walk->cancelled = true;
        walk->scanner->cancel();
        auto found = _walks.find(walk->scope);
        if (found != _walks.end() && found->second == walk) _walks.erase(found);
      }
      return false;
    });
    ready = request.remaining == 0 && !request.detached;
    if (ready) request.detached = true;
  }
  if (ready) {
    auto self = request.shared_from_this();
    DispatchQueue::global(QualityOfService::userInitiated)->async([self] { answer(self); });
  }
}

void WalkingMetadataIndex::readAllSizes(Walk& walk) {
  std::unique_lock lock(walk.access);
  if (walk.hasSizes) return;
  DiskMap& map = *walk.map;
  std::vector<Index> files;
  const auto count = static_cast<Index>(map.count());
  for (Index index = 1; index < count; ++index) {
    const auto& entry = map[index];
    if (entry.nodeType() == FileNode::NodeType::file && entry.error == 0) files.push_back(index);
  }
  // As many parts as the walk had traversals, each read on a thread of its own; each part
  // writes only its own entries and gathers what it could not read apart.
  const std::size_t partCount =
      std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, std::max<std::size_t>(1, files.size() / 256));
  std::vector<std::vector<Index>> parts(partCount);
  for (std::size_t part = 0; part < partCount; ++part)
    parts[part].assign(files.begin() + static_cast<std::ptrdiff_t>(files.size() * part / partCount),
                       files.begin() + static_cast<std::ptrdiff_t>(files.size() * (part + 1) / partCount));
  files = {};
  std::vector<Unreadable> partUnreadable(partCount);
  auto readPart = [&map, &walk, &parts, &partUnreadable](std::size_t part) {
    readStatusesOf(*walk.reader, map, parts[part], [&](Index index, const DirectoryReader::Entry& status) {
      auto& entry = map.at(index);
      if (status.error != 0) {
        // An entry gone since the walk listed it is left out of every answer; the others are
        // answered as the walk answers an entry whose status it could not read.
        entry.error = static_cast<std::uint16_t>(status.error);
        entry.marks = static_cast<std::uint8_t>(entry.marks | FileNode::unreadable);
        if (status.error != kNoSuchEntry) partUnreadable[part].push_back({map.path(index), status.error, false});
      } else if (status.type == platform::FileObjectType::file) {
        entry.size = status.size;
        entry.usage = status.usage;
      }
    });
  };
  std::mutex doneMutex;
  std::condition_variable doneCondition;
  std::size_t done = 0;  // guarded by doneMutex
  for (std::size_t part = 1; part < partCount; ++part) {
    DispatchQueue::global(QualityOfService::userInitiated)->async([&, part] {
      readPart(part);
      std::lock_guard doneLock(doneMutex);
      ++done;
      doneCondition.notify_all();
    });
  }
  readPart(0);
  {
    DispatchBlockingScope blocking;
    std::unique_lock doneLock(doneMutex);
    doneCondition.wait(doneLock, [&] { return done == partCount - 1; });
  }
  bool added = false;
  for (auto& found : partUnreadable) {
    added = added || !found.empty();
    walk.unreadable.insert(walk.unreadable.end(), found.begin(), found.end());
  }
  if (added) sortUnreadable(walk.unreadable);
  walk.hasSizes = true;
}

void WalkingMetadataIndex::answer(const std::shared_ptr<Request>& request) {
  std::vector<std::shared_ptr<Walk>> walks;
  if (auto index = request->index.lock()) {
    std::lock_guard lock(index->_mutex);
    walks = std::move(request->walks);
    request->walks.clear();
  }
  {
    std::lock_guard lock(request->completionMutex);
    if (request->cancelled) return;
  }
  Items items;
  Unreadable unreadable;
  std::unordered_set<std::string> paths;
  const bool overlapping = walks.size() > 1;
  bool resort = overlapping;
  std::vector<Index> matches;
  std::vector<Index> sizeless;
  std::vector<std::uint8_t> hidden;
  for (const auto& walk : walks) {
    if (!walk->map) continue;
    if (request->needsSizes) readAllSizes(*walk);
    std::shared_lock lock(walk->access);
    const DiskMap& map = *walk->map;
    // A walk that entered hidden folders answers a query that does not as if it had not.
    const bool leaveOutHidden = walk->entersHiddenFolders && !request->options.entersHiddenFolders;
    const auto count = static_cast<Index>(map.count());
    hidden.assign(leaveOutHidden ? count : 0, 0);
    matches.clear();
    for (Index index = 1; index < count; ++index) {
      const auto& entry = map[index];
      if (leaveOutHidden) {
        // A folder comes before what it holds, so its mark is set when its children come.
        hidden[index] = hidden[entry.parent] || (entry.isDirectory() && isHiddenName(entry.nameView()));
        if (hidden[index]) continue;
      }
      const auto type = entry.nodeType();
      if (type != FileNode::NodeType::file && type != FileNode::NodeType::directory) continue;
      if (entry.error == kNoSuchEntry && type == FileNode::NodeType::file) continue;
      EntrySubject subject(map, index);
      if (!request->predicate.evaluate(subject)) continue;
      matches.push_back(index);
    }
    // The sizes of the results, when the walk did not read them.
    std::vector<std::pair<std::int64_t, std::int64_t>> sizes(matches.size());
    std::vector<bool> gone(matches.size(), false);
    for (std::size_t i = 0; i < matches.size(); ++i) {
      const auto& entry = map[matches[i]];
      if (!entry.isDirectory()) sizes[i] = {entry.size, entry.usage};
    }
    // A walk without sizes read those of the files that its first query finds.
    if (!walk->hasSizes && !(walk->statusesFor && walk->statusesForText == request->predicateText)) {
      sizeless.clear();
      std::vector<std::size_t> positions;
      for (std::size_t i = 0; i < matches.size(); ++i) {
        const auto& entry = map[matches[i]];
        if (entry.nodeType() == FileNode::NodeType::file && entry.error == 0) {
          sizeless.push_back(matches[i]);
          positions.push_back(i);
        }
      }
      std::size_t next = 0;
      readStatusesOf(*walk->reader, map, sizeless, [&](Index index, const DirectoryReader::Entry& status) {
        const std::size_t i = positions[next++];
        if (status.error == kNoSuchEntry) {
          gone[i] = true;
        } else if (status.error != 0) {
          unreadable.push_back({map.path(index), status.error, false});
          resort = true;
        } else if (status.type == platform::FileObjectType::file) {
          sizes[i] = {status.size, status.usage};
        }
      });
    }
    items.reserve(items.size() + matches.size());
    // Matches come in index order, so a folder's children together: its path is made once.
    Index parent = map[matches.empty() ? 0 : matches[0]].parent;
    std::string parentPath;
    bool hasParentPath = false;
    for (std::size_t i = 0; i < matches.size(); ++i) {
      if (gone[i]) continue;
      const auto& entry = map[matches[i]];
      if (!hasParentPath || entry.parent != parent) {
        parent = entry.parent;
        parentPath = map.path(parent);
        if (parentPath.empty() || parentPath.back() != '/') parentPath += '/';
        hasParentPath = true;
      }
      const std::string_view name = entry.nameView();
      std::string path;
      path.reserve(parentPath.size() + name.size());
      path.append(parentPath).append(name);
      if (overlapping && !paths.insert(path).second) continue;
      items.push_back(std::make_shared<const MetadataItem>(std::move(path), sizes[i].first, sizes[i].second));
    }
    for (const auto& entry : walk->unreadable) {
      if (leaveOutHidden && liesInHiddenFolder(entry.path, walk->scope.size(), entry.isDirectory)) continue;
      unreadable.push_back(entry);
    }
  }
  if (resort) sortUnreadable(unreadable);
  walks.clear();
  Completion completion;
  {
    std::lock_guard lock(request->completionMutex);
    if (request->cancelled) return;
    completion = std::move(request->completion);
    request->completion = nullptr;
  }
  if (completion) completion(std::move(items), std::move(unreadable));
}

}  // namespace vantelkit
