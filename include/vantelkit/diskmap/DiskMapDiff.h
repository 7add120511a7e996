// What changed between two disk maps of the same folder (say, two saved maps read back
// with DiskMapImport): the entries that grew, shrank, appeared or vanished, largest change
// first. Entries are matched by name below the two roots (the roots themselves are matched
// whatever their names); folder changes are the differences of the folder totals, so they
// agree with both maps. The comparison keeps a few indices per change and per level of the
// folder it is in, so a chain of any depth is compared in time and memory linear in its size.
// Thread safety: compare() shares nothing and may read finished maps from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/scanning/DiskMap.h"

namespace vantelkit {

class DiskMapDiff {
 public:
  enum class Status { grew, shrank, appeared, vanished };
  // "grew", "shrank", "appeared", "vanished".
  static std::string_view statusName(Status status);

  struct Change {
    Status status;
    FileNode::NodeType type;
    std::optional<std::int64_t> oldSize;  // none for an entry that appeared
    std::optional<std::int64_t> newSize;  // none for an entry that vanished
    bool unreadable = false;              // either side could not be read (fully)
    // The entry: in the later map for one that appeared, in the earlier map otherwise.
    DiskMap::Index entry = DiskMap::rootIndex;
    std::int64_t change() const { return newSize.value_or(0) - oldSize.value_or(0); }
    bool operator==(const Change&) const = default;
  };

  // Every changed entry, by the size of the change (largest first), then in the byte order
  // of their paths. A folder that appeared or vanished is one change; what it holds is not
  // listed again. An entry whose type changed vanished and appeared.
  static std::vector<Change> compare(const DiskMap& before, const DiskMap& after);

  // The path of a change's entry below the roots, "/"-separated; a folder's with a trailing
  // "/". before and after are the maps given to compare().
  static std::string path(const Change& change, const DiskMap& before, const DiskMap& after);
};

}  // namespace vantelkit
