#include "vantelkit/metadata/WalkingMetadataIndex.h"

#include <algorithm>
#include <chrono>
#include <unordered_set>

#include "vantelkit/scanning/DiskScanner.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/FileStatus.h"

namespace vantelkit {

namespace {

using Node = std::shared_ptr<FileNode>;
using Clock = std::chrono::steady_clock;

// Leaves out folders whose names start with ".", and so everything inside them.
class HiddenFolderFilter final : public platform::DirectoryReader {
 public:
  explicit HiddenFolderFilter(std::shared_ptr<DirectoryReader> inner) : _inner(std::move(inner)) {}

  Status list(const std::string& path, bool followLink, Visitor& visitor) override {
    Filter filter(visitor);
    return _inner->list(path, followLink, filter);
  }

 private:
  class Filter final : public Visitor {
   public:
    explicit Filter(Visitor& next) : _next(next) {}
    void visit(const Entry& entry) override {
      if (entry.type == platform::FileObjectType::directory && !entry.name.empty() && entry.name.front() == '.')
        return;
      _next.visit(entry);
    }
    // The rest goes through unchanged, the reason a folder could not be listed above all.
    bool wantsDirectoryDevice() const override { return _next.wantsDirectoryDevice(); }
    bool enterDirectory(std::uint64_t device) override { return _next.enterDirectory(device); }
    bool wantsFileStatus() const override { return _next.wantsFileStatus(); }
    void failed(std::error_code error) override { _next.failed(error); }

   private:
    Visitor& _next;
  };

  const std::shared_ptr<DirectoryReader> _inner;
};

// Keeps every node a walk offers in a list of its own, accepting none, so that the walk's
// entries can be taken afterwards without a copy. The list is written under the collector's
// lock and read once the walk has ended.
class IndexCollector final : public FileCollector {
 public:
  explicit IndexCollector(std::shared_ptr<std::vector<Node>> entries) : _entries(std::move(entries)) {}
  std::string identifier() const override { return "metadataIndex"; }
  Evaluator evaluator() override {
    return [entries = _entries](const Node& node) {
      entries->push_back(node);
      return false;
    };
  }

 private:
  const std::shared_ptr<std::vector<Node>> _entries;
};

// A walked node as a predicate sees it; the path is made once, when first asked for.
class NodeSubject final : public MetadataSubject {
 public:
  explicit NodeSubject(const Node& node) : _node(node) {}
  std::string_view name() const override { return _node->name(); }
  std::string path() const override {
    if (!_path) _path = _node->url().path();
    return *_path;
  }
  std::optional<std::int64_t> size() const override { return _node->size(); }
  std::optional<Date> contentModificationDate() const override {
    auto seconds = platform::fileModificationTimeNotFollowingLink(path());
    if (!seconds) return std::nullopt;
    return Date{*seconds};
  }

 private:
  const Node& _node;
  mutable std::optional<std::string> _path;
};

std::shared_ptr<const MetadataItem> makeItem(const Node& node, std::string path) {
  MetadataItem::Attributes attributes;
  attributes.emplace("kMDItemPath", std::move(path));
  attributes.emplace("kMDItemFSName", node->name());
  attributes.emplace("kMDItemDisplayName", node->name());
  attributes.emplace("kMDItemFSSize", node->size());
  attributes.emplace("kMDItemPhysicalSize", node->usage());
  return std::make_shared<const MetadataItem>(std::move(attributes));
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

// One walk of one scope. Fields are guarded by the index's mutex, except nodes, which is
// set once under it when the walk ends and only read afterwards.
struct WalkingMetadataIndex::Walk {
  std::string scope;
  std::shared_ptr<DiskScanner> scanner;
  std::vector<std::shared_ptr<Request>> waiting;
  bool finished = false;
  bool cancelled = false;
  Clock::time_point finishedAt;
  std::vector<Node> nodes;
  Unreadable unreadable;
};

struct WalkingMetadataIndex::Request final : public MetadataIndex::Gathering,
                                             public std::enable_shared_from_this<WalkingMetadataIndex::Request> {
  Request(std::weak_ptr<WalkingMetadataIndex> owner, MetadataPredicate condition, Completion handler)
      : index(std::move(owner)), predicate(std::move(condition)), completion(std::move(handler)) {}

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
    : _reader(std::make_shared<HiddenFolderFilter>(reader ? std::move(reader)
                                                          : platform::DirectoryReader::shared())),
      _sharingWindow(sharingWindow) {}

WalkingMetadataIndex::~WalkingMetadataIndex() {
  std::lock_guard lock(_mutex);
  for (auto& [scope, walk] : _walks)
    if (!walk->finished) walk->scanner->cancel();
}

std::shared_ptr<MetadataIndex::Gathering> WalkingMetadataIndex::gather(const MetadataPredicate& predicate,
                                                                       const std::vector<std::string>& scopes,
                                                                       Completion completion) {
  auto request = std::make_shared<Request>(weak_from_this(), predicate, std::move(completion));
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
          walk && !walk->cancelled &&
          (!walk->finished ||
           std::chrono::duration<double>(now - walk->finishedAt).count() <= _sharingWindow);
      if (!reusable) {
        walk = std::make_shared<Walk>();
        walk->scope = path;
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
  auto entries = std::make_shared<std::vector<Node>>();
  Unreadable unreadable;
  {
    // The walk blocks this pool thread while its traversals run on others.
    DispatchBlockingScope blocking;
    unreadable = walk->scanner->scan(FileURL::fileURLWithPath(walk->scope, true),
                                     {.collectors = {std::make_shared<IndexCollector>(entries)}})
                     ->unreadableEntries();
  }
  std::vector<std::shared_ptr<Request>> ready;
  bool keep = false;
  {
    std::lock_guard lock(_mutex);
    walk->finished = true;
    walk->finishedAt = Clock::now();
    keep = !walk->cancelled;
    // A stopped walk still answers the query that finished early with what it found.
    walk->nodes = std::move(*entries);
    walk->unreadable = std::move(unreadable);
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
  for (const auto& walk : walks) {
    for (const auto& node : walk->nodes) {
      NodeSubject subject(node);
      if (!request->predicate.evaluate(subject)) continue;
      std::string path = subject.path();
      if (overlapping && !paths.insert(path).second) continue;
      items.push_back(makeItem(node, std::move(path)));
    }
    unreadable.insert(unreadable.end(), walk->unreadable.begin(), walk->unreadable.end());
  }
  if (overlapping) {
    std::sort(unreadable.begin(), unreadable.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    unreadable.erase(std::unique(unreadable.begin(), unreadable.end()), unreadable.end());
  }
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
