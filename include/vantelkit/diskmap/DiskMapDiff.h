// What changed between two disk maps of the same folder (say, two saved maps read back
// with DiskMapImport): the entries that grew, shrank, appeared or vanished, largest change
// first. Entries are matched by name below the two roots (the roots themselves are matched
// whatever their names); folder changes are the differences of the folder totals, so they
// agree with both maps.
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
    std::string path;  // below the roots, "/"-separated; a folder's with a trailing "/"
    Status status;
    FileNode::NodeType type;
    std::optional<std::int64_t> oldSize;  // none for an entry that appeared
    std::optional<std::int64_t> newSize;  // none for an entry that vanished
    bool unreadable = false;              // either side could not be read (fully)
    std::int64_t change() const { return newSize.value_or(0) - oldSize.value_or(0); }
    bool operator==(const Change&) const = default;
  };

  // Every changed entry, by the size of the change (largest first), then by path. A folder
  // that appeared or vanished is one change; what it holds is not listed again. An entry
  // whose type changed vanished and appeared.
  static std::vector<Change> compare(const DiskMap& before, const DiskMap& after);
};

}  // namespace vantelkit
