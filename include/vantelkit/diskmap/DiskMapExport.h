// Writes a DiskMap out as a document other programs (and DiskMapImport) read: the map JSON
// ({"version": 1, "path", the totals, "root": {"name", "size", "usage", "type", ...,
// "children": [...]}}, a folder not listed with "notListed": true and null sizes) or ncdu's
// export format, version 1.2 (a folder not listed with "read_error"). Children are written in the
// byte order of their names, so two maps of the same files give the same bytes. Written
// without recursion, in pieces handed to a sink, so any size and depth of map is fine.
// Thread safety: the calls share nothing; several may read one finished map at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "vantelkit/foundation/OutputSink.h"
#include "vantelkit/foundation/Result.h"
#include "vantelkit/scanning/DiskMap.h"

namespace vantelkit {

class DiskMapExport {
 public:
  // Which part of the tree is written.
  struct TreeOptions {
    // Levels of folders whose children are written, the root's children being level 1;
    // every level when none. Sizes stay the folders' full sums.
    std::optional<std::int64_t> maxDepth{};
    // .app and .kext bundles written without what they hold.
    bool bundlesAsLeaves = false;
  };

  struct JSONOptions {
    TreeOptions tree{};
    // The "path" written; the map's root path when none.
    std::optional<std::string> path{};
    // The "complete" written; the map's isComplete() when none.
    std::optional<bool> complete{};
  };

  struct NcduOptions {
    TreeOptions tree{};
    // Seconds since 1970 for the metadata's "timestamp"; now when none.
    std::optional<std::int64_t> timestamp{};
  };

  // The map JSON, ended by one newline. On a failed write, the OutputError of the sink's
  // first failure (nothing more is handed to the sink after it).
  static Result<void> writeJSON(const DiskMap& map, const JSONOptions& options, const OutputSink& sink);
  // The ncdu export, [1, 2, {metadata}, [{root info}, entry...]], ended by one newline;
  // failures as writeJSON().
  static Result<void> writeNcdu(const DiskMap& map, const NcduOptions& options, const OutputSink& sink);
};

}  // namespace vantelkit
