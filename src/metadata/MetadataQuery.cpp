#include "vantelkit/metadata/MetadataQuery.h"

#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/NotificationCenter.h"

namespace vantelkit {

std::shared_ptr<MetadataQuery> MetadataQuery::make(std::shared_ptr<MetadataIndex> index) {
  return std::shared_ptr<MetadataQuery>(new MetadataQuery(std::move(index)));
}

MetadataQuery::MetadataQuery(std::shared_ptr<MetadataIndex> index) : _index(std::move(index)) {}

MetadataQuery::~MetadataQuery() {
  if (_gathering) _gathering->cancel();
}

void MetadataQuery::setPredicate(MetadataPredicate predicate) {
  std::lock_guard lock(_mutex);
  _predicate = std::move(predicate);
}

std::optional<MetadataPredicate> MetadataQuery::predicate() const {
  std::lock_guard lock(_mutex);
  return _predicate;
}

void MetadataQuery::setSearchScopes(std::vector<std::string> scopes) {
  std::lock_guard lock(_mutex);
  _scopes = std::move(scopes);
}

std::vector<std::string> MetadataQuery::searchScopes() const {
  std::lock_guard lock(_mutex);
  return _scopes;
}

void MetadataQuery::setSortDescriptors(std::vector<MetadataSortDescriptor> descriptors) {
  std::lock_guard lock(_mutex);
  _sortDescriptors = std::move(descriptors);
}

std::vector<MetadataSortDescriptor> MetadataQuery::sortDescriptors() const {
  std::lock_guard lock(_mutex);
  return _sortDescriptors;
}

void MetadataQuery::setSearchOptions(MetadataSearchOptions options) {
  std::lock_guard lock(_mutex);
  _searchOptions = options;
}

MetadataSearchOptions MetadataQuery::searchOptions() const {
  std::lock_guard lock(_mutex);
  return _searchOptions;
}

bool MetadataQuery::startQuery() {
  std::shared_ptr<MetadataIndex> index;
  MetadataPredicate predicate;
  std::vector<std::string> scopes;
  MetadataSearchOptions options;
  bool cancelled = false;
  {
    std::lock_guard lock(_mutex);
    if (_started || !_predicate) return false;
    _started = true;
    _gatheringNow = true;
    cancelled = _cancelled;
    if (!_index) _index = MetadataIndex::shared();
    index = _index;
    predicate = *_predicate;
    scopes = _scopes;
    options = _searchOptions;
  }
  if (cancelled) {
    // Cancelled before the start: finished at once, with nothing found.
    didGather({}, {});
    return true;
  }
  std::weak_ptr<MetadataQuery> weak = weak_from_this();
  auto gathering = index->gatherWithOptions(predicate, scopes, options, [weak](MetadataIndex::Items items, MetadataIndex::Unreadable unreadable) {
    if (auto self = weak.lock()) self->didGather(std::move(items), std::move(unreadable));
  });
  {
    std::lock_guard lock(_mutex);
    if (!_stopped) {
      _gathering = gathering;
      cancelled = _cancelled;
      if (!cancelled) return true;
    }
  }
  if (cancelled) {
    // Cancelled while gather() ran.
    if (!gathering->finishEarly()) didGather({}, {});
    return true;
  }
  // Stopped while gather() ran: the gathering must end too.
  gathering->cancel();
  return true;
}

void MetadataQuery::cancel() {
  std::shared_ptr<MetadataIndex::Gathering> gathering;
  {
    std::lock_guard lock(_mutex);
    if (_cancelled || _stopped) return;
    _cancelled = true;
    // Not started (startQuery() finishes at once), already gathered, or gather() still
    // running in startQuery(), which then finishes the gathering early itself.
    if (!_started || !_gatheringNow || !_gathering) return;
    gathering = _gathering;
  }
  if (!gathering->finishEarly()) didGather({}, {});
}

bool MetadataQuery::isComplete() const {
  std::lock_guard lock(_mutex);
  return _complete;
}

void MetadataQuery::didGather(MetadataIndex::Items items, MetadataIndex::Unreadable unreadable) {
  // Sorted here, on the index's thread, so that the main queue only takes the results.
  sortMetadataItems(items, sortDescriptors());
  std::weak_ptr<MetadataQuery> weak = weak_from_this();
  DispatchQueue::main()->async([weak, items = std::move(items), unreadable = std::move(unreadable)]() mutable {
    auto self = weak.lock();
    if (!self) return;
    {
      std::lock_guard lock(self->_mutex);
      if (self->_stopped || !self->_gatheringNow) return;
      self->_gatheringNow = false;
      self->_complete = !self->_cancelled;
      self->_results = std::move(items);
      self->_unreadable = std::move(unreadable);
    }
    platform::NotificationCenter::defaultCenter().post(std::string(didFinishGatheringNotification),
                                                       std::any(self));
  });
}

void MetadataQuery::stopQuery() {
  std::shared_ptr<MetadataIndex::Gathering> gathering;
  {
    std::lock_guard lock(_mutex);
    _stopped = true;
    _gatheringNow = false;
    gathering = std::move(_gathering);
    _gathering = nullptr;
  }
  if (gathering) gathering->cancel();
}

bool MetadataQuery::isStarted() const {
  std::lock_guard lock(_mutex);
  return _started;
}

bool MetadataQuery::isGathering() const {
  std::lock_guard lock(_mutex);
  return _gatheringNow;
}

bool MetadataQuery::isStopped() const {
  std::lock_guard lock(_mutex);
  return _stopped;
}

std::vector<std::shared_ptr<const MetadataItem>> MetadataQuery::results() const {
  std::lock_guard lock(_mutex);
  return _results;
}

MetadataIndex::Unreadable MetadataQuery::unreadable() const {
  std::lock_guard lock(_mutex);
  return _unreadable;
}

std::size_t MetadataQuery::resultCount() const {
  std::lock_guard lock(_mutex);
  return _results.size();
}

}  // namespace vantelkit
