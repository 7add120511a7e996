// The source that metadata queries gather from: given a predicate and folders, it answers
// the matching items once. The library's own index is WalkingMetadataIndex; tests and
// hosts with a real platform index may install another as shared().
// Thread safety: gather(), gatherWithOptions(), cancel() and finishEarly() are safe from any
// thread; so are shared() and setShared().
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vantelkit/metadata/MetadataItem.h"
#include "vantelkit/metadata/MetadataPredicate.h"
#include "vantelkit/scanning/DiskScanResult.h"

namespace vantelkit {

// What a gathering searches besides the platform index's usual scope.
struct MetadataSearchOptions {
  // Also search folders whose names start with "." below the scopes, and index those
  // folders themselves. Off by default, as the platform's index leaves them out; on Linux
  // much of a home's removable bulk lies there (the trash, caches, Flatpak data).
  bool entersHiddenFolders = false;
  bool operator==(const MetadataSearchOptions&) const = default;
};

class MetadataIndex {
 public:
  using Items = std::vector<std::shared_ptr<const MetadataItem>>;
  using Unreadable = std::vector<DiskScanResult::UnreadableEntry>;
  // Called once with the matching items, in no particular order, and the folders and files
  // below the scopes that could not be read (sorted by path; what lies there is missing from
  // the items), on a thread of the index's choosing.
  using Completion = std::function<void(Items items, Unreadable unreadable)>;

  // A gathering under way. After cancel() returns the completion is not called, unless
  // it was already under way; cancel() does not wait for it.
  class Gathering {
   public:
    virtual ~Gathering() = default;
    virtual void cancel() = 0;
    // Ends the gathering early, with what it has found so far: answers true when the
    // completion is called with those items (or was called already), false when this
    // index cannot answer partly and has cancelled the gathering instead (the default).
    virtual bool finishEarly() {
      cancel();
      return false;
    }
  };

  virtual ~MetadataIndex() = default;

  // Gathers the items below scopes (absolute folder paths) that satisfy predicate. The
  // returned handle may be dropped; the gathering goes on until it is cancelled.
  virtual std::shared_ptr<Gathering> gather(const MetadataPredicate& predicate, const std::vector<std::string>& scopes,
                                            Completion completion) = 0;
  // gather() with options. An index that has no such choices answers as gather() does
  // (this default).
  virtual std::shared_ptr<Gathering> gatherWithOptions(const MetadataPredicate& predicate,
                                                       const std::vector<std::string>& scopes,
                                                       const MetadataSearchOptions& options, Completion completion) {
    (void)options;
    return gather(predicate, scopes, std::move(completion));
  }

  // The index queries use when none is given: a WalkingMetadataIndex made on first use,
  // unless one was set.
  static std::shared_ptr<MetadataIndex> shared();
  // Replaces the shared index (null: back to the default on next use).
  static void setShared(std::shared_ptr<MetadataIndex> index);
};

}  // namespace vantelkit
