// A query of the metadata index: a predicate, the folders to search and the order of the
// results. Started on the main queue, it gathers once; when the results are in, it sets them
// and posts didFinishGatheringNotification on the process's NotificationCenter with the
// query (a std::shared_ptr<MetadataQuery>) as the notification's object, both on the main
// queue. Live updates after the first gathering are not offered. stopQuery() ends the query;
// after it, nothing more is posted and the results stay as they were. cancel() ends the
// gathering early but still posts, with the results found so far.
// Thread safety: configure before starting; startQuery() on the main queue; stopQuery(),
// cancel() and the readers are safe from any thread.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/metadata/MetadataIndex.h"
#include "vantelkit/metadata/MetadataItem.h"
#include "vantelkit/metadata/MetadataPredicate.h"

namespace vantelkit {

class MetadataQuery : public std::enable_shared_from_this<MetadataQuery> {
 public:
  static constexpr std::string_view didFinishGatheringNotification = "NSMetadataQueryDidFinishGatheringNotification";

  // index: where to gather (MetadataIndex::shared() when null, asked at the start).
  static std::shared_ptr<MetadataQuery> make(std::shared_ptr<MetadataIndex> index = nullptr);
  MetadataQuery(const MetadataQuery&) = delete;
  MetadataQuery& operator=(const MetadataQuery&) = delete;
  ~MetadataQuery();

  void setPredicate(MetadataPredicate predicate);
  std::optional<MetadataPredicate> predicate() const;
  // Absolute folder paths.
  void setSearchScopes(std::vector<std::string> scopes);
  std::vector<std::string> searchScopes() const;
  void setSortDescriptors(std::vector<MetadataSortDescriptor> descriptors);
  std::vector<MetadataSortDescriptor> sortDescriptors() const;
  // What is searched below the scopes (hidden folders left out by default).
  void setSearchOptions(MetadataSearchOptions options);
  MetadataSearchOptions searchOptions() const;

  // Begins gathering. False, and nothing done, when the query has no predicate or was
  // started before.
  bool startQuery();
  // Stops gathering; no notification is posted afterwards.
  void stopQuery();
  // Ends the gathering early: the results are what the index had found until then (none
  // from an index that cannot answer partly), isComplete() is false, and
  // didFinishGatheringNotification is posted as usual. Before startQuery(), the query
  // finishes that way, with no results, as soon as it is started. Does nothing once the
  // gathering has finished or the query was stopped; a second call does nothing more.
  void cancel();
  // False when the results are partial because the query was cancelled.
  bool isComplete() const;

  bool isStarted() const;
  bool isGathering() const;
  bool isStopped() const;

  // The gathered items in sort order; empty until gathering has finished.
  std::vector<std::shared_ptr<const MetadataItem>> results() const;
  std::size_t resultCount() const;
  // What the gathering could not read below the scopes, sorted by path: the results lack
  // whatever lies there. Empty until gathering has finished.
  MetadataIndex::Unreadable unreadable() const;

 private:
  explicit MetadataQuery(std::shared_ptr<MetadataIndex> index);
  void didGather(MetadataIndex::Items items, MetadataIndex::Unreadable unreadable);

  mutable std::mutex _mutex;
  // Guarded by _mutex:
  std::shared_ptr<MetadataIndex> _index;
  std::optional<MetadataPredicate> _predicate;
  std::vector<std::string> _scopes;
  std::vector<MetadataSortDescriptor> _sortDescriptors;
  MetadataSearchOptions _searchOptions;
  std::shared_ptr<MetadataIndex::Gathering> _gathering;
  bool _started = false;
  bool _gatheringNow = false;
  bool _stopped = false;
  bool _cancelled = false;
  bool _complete = false;
  std::vector<std::shared_ptr<const MetadataItem>> _results;
  MetadataIndex::Unreadable _unreadable;
};

}  // namespace vantelkit
