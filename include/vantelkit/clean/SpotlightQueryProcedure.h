// Finds files through the metadata index instead of walking folders: one MetadataQuery with
// the given predicate over the user's home folder, sorted by kMDItemFSSize, largest first.
// When the index has gathered, each result becomes a file node (type file, even for a
// folder, with the size the index reports, and as its usage the index's kMDItemPhysicalSize
// when it has one) in that order; a result without a text path or
// a numeric size is skipped. The output is success with that list; a query that finds
// nothing gives an empty list. Cancelled, the query stops and the procedure still finishes
// (with its cancellation error, output pending), so that procedures after it are not held
// up.
// Thread safety: as Procedure. The query starts on the main queue and the output is set on
// the main queue, which the host must drain.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/foundation/Procedure.h"
#include "vantelkit/metadata/MetadataQuery.h"
#include "vantelkit/platform/NotificationCenter.h"
#include "vantelkit/scanning/FileNode.h"

namespace vantelkit {

class SpotlightQueryProcedure : public Procedure, public OutputProcedure<std::vector<std::shared_ptr<FileNode>>> {
 public:
  // index: where the query gathers (MetadataIndex::shared() when null). options: what the
  // query searches besides the index's usual scope (a Linux home's hidden folders with
  // entersHiddenFolders).
  explicit SpotlightQueryProcedure(MetadataPredicate predicate, std::shared_ptr<MetadataIndex> index = nullptr,
                                   MetadataSearchOptions options = {});
  ~SpotlightQueryProcedure() override;

  // Handles a gathering notification; one from another query is ignored.
  void queryDidFinish(const platform::Notification& notification);
  // What the query could not read below the home folder (sorted by path); read once the
  // procedure has finished.
  const MetadataIndex::Unreadable& unreadable() const { return _unreadable; }

 protected:
  void execute() override;
  void procedureDidCancel(const ErrorPtr& error) override;

 private:
  void stopObserving();
  // Finishes once, whichever of the gathering and the cancellation comes first.
  bool claimFinish() { return !_ended.exchange(true); }

  const std::shared_ptr<MetadataQuery> query;
  std::mutex _tokenMutex;
  std::optional<platform::NotificationCenter::ObserverToken> _token;  // guarded by _tokenMutex
  std::atomic<bool> _executing{false};
  std::atomic<bool> _ended{false};
  MetadataIndex::Unreadable _unreadable;  // set before finishing
};

}  // namespace vantelkit
