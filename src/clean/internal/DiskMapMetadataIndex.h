// A metadata index that answers queries over one folder from a walk already made (a DiskMap
// of it), with the indexing rules of WalkingMetadataIndex: folders whose names start with "."
// and the inside of bundles are not indexed, nor are links, devices, pipes and sockets; a
// folder's kMDItemFSSize is 0. Until a map is set, and for other scopes, queries go to
// MetadataIndex::shared().
// Thread safety: every member is safe to call from any thread.
#pragma once

#include <memory>
#include <mutex>

#include "vantelkit/metadata/MetadataIndex.h"
#include "vantelkit/scanning/DiskMap.h"

namespace vantelkit::internal {

class DiskMapMetadataIndex final : public MetadataIndex {
 public:
  void setMap(std::shared_ptr<DiskMap> map);
  // Lets the map go once nothing needs it any more.
  void releaseMap() { setMap(nullptr); }

  std::shared_ptr<Gathering> gather(const MetadataPredicate& predicate, const std::vector<std::string>& scopes,
                                    Completion completion) override;

 private:
  std::mutex _mutex;
  std::shared_ptr<DiskMap> _map;  // guarded by _mutex
};

}  // namespace vantelkit::internal
