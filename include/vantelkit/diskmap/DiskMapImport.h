// Reads a disk map written earlier back into a scan result, without touching the disk: an
// ncdu export ([1, minor, {metadata}, [{info}, ...]]) or the map JSON of `vantel map
// --json` ({"root": {"name", "size", "usage", "type", "children": [...]}, ...}).
// Directory sizes are summed again from the files; unreadable entries, exclusion marks and
// hard links come back as the scan had them. The input is streamed (no document in memory)
// and nesting is bounded, so no input can exhaust the stack.
// Thread safety: read() may be called from any thread; it shares nothing.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "vantelkit/scanning/DiskScanResult.h"

namespace vantelkit {

class DiskMapImport {
 public:
  // Where and why the input is not a disk map.
  struct Error {
    std::size_t line = 0;    // 1-based
    std::size_t column = 0;  // 1-based, in bytes
    std::string message;
  };

  // Most directory levels read; deeper input is an error.
  static constexpr std::size_t maxDepth = 4096;

  // The map in text, or where it is malformed. The result's elapsed time is 0; its root's
  // URL is the map's root path (resolved against the current folder when relative).
  static std::variant<std::shared_ptr<DiskScanResult>, Error> read(std::string_view text);
};

}  // namespace vantelkit
