// The library's own metadata index: it answers a query from a parallel walk of each search
// scope with the scanning engine (DiskScanner::scanMap(), so the walk's listing, exclusion,
// unreadable records and cancellation are the engine's), and keeps nothing on disk.
//
// What is indexed, as the platform's index does it: every file and folder below the scope,
// except that a folder whose name starts with "." is not indexed, nor is anything inside it
// (unless the gathering's MetadataSearchOptions::entersHiddenFolders is set), and the inside
// of a bundle (a folder named like an application or a kernel extension) is not indexed, the
// bundle itself is. Links are never followed; links, devices, pipes and sockets are not
// indexed. An unreadable folder adds nothing and is reported with the answer. A folder's
// kMDItemFSSize is 0. Each item also carries kMDItemPhysicalSize, the bytes allocated on
// disk (0 for a folder).
//
// A walk reads only what its predicates need: names and types, and file statuses only when
// the predicate tests kMDItemFSSize. Sizes are then read for the results alone; a query that
// needs every size and finds a walk without them reads them once, folder by folder, for all
// the queries after it. Modification dates are read per item, only when a predicate gets to
// test one. The walk keeps its entries as a compact DiskMap (about 40 bytes an entry and its
// name).
//
// Walks are shared: a query over a scope that is being walked joins that walk, and one that
// arrives within sharingWindow seconds after a complete walk of the scope ended is answered
// from it, so several queries in a row cost about one walk (a walk that entered hidden
// folders serves queries that do not, not the other way round). The entries of a walk are
// kept in memory until the window has passed. A walk that every waiting query cancelled
// stops and is not reused. A query that finishes early stops the walks that only it waits
// for and is answered from what they found until then; a walk that other queries still wait
// for goes on for them and adds nothing to the early answer.
// Thread safety: every member is safe to call from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vantelkit/metadata/MetadataIndex.h"
#include "vantelkit/platform/DirectoryReader.h"

namespace vantelkit {

class WalkingMetadataIndex final : public MetadataIndex, public std::enable_shared_from_this<WalkingMetadataIndex> {
 public:
  static constexpr double defaultSharingWindow = 5.0;

  // reader: the directory listing service (DirectoryReader::shared() when null).
  static std::shared_ptr<WalkingMetadataIndex> make(std::shared_ptr<platform::DirectoryReader> reader = nullptr,
                                                    double sharingWindow = defaultSharingWindow);
  ~WalkingMetadataIndex() override;

  std::shared_ptr<Gathering> gather(const MetadataPredicate& predicate, const std::vector<std::string>& scopes,
                                    Completion completion) override;
  std::shared_ptr<Gathering> gatherWithOptions(const MetadataPredicate& predicate, const std::vector<std::string>& scopes,
                                               const MetadataSearchOptions& options, Completion completion) override;

  // Walks started so far.
  std::int64_t walksStarted() const { return _walksStarted.load(std::memory_order_relaxed); }

  struct Walk;
  struct Request;

 private:
  WalkingMetadataIndex(std::shared_ptr<platform::DirectoryReader> reader, double sharingWindow);
  void run(const std::shared_ptr<Walk>& walk);
  void cancel(Request& request);
  void finishEarly(Request& request);
  void forget(const std::shared_ptr<Walk>& walk);
  static void answer(const std::shared_ptr<Request>& request);
  static void readAllSizes(Walk& walk);

  const std::shared_ptr<platform::DirectoryReader> _reader;
  const double _sharingWindow;
  std::atomic<std::int64_t> _walksStarted{0};
  std::mutex _mutex;
  std::map<std::string, std::shared_ptr<Walk>> _walks;  // by scope path; guarded by _mutex
};

}  // namespace vantelkit
