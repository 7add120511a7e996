// Reads a disk map written earlier, without touching the disk: an ncdu export ([1, minor,
// {metadata}, [{info}, ...]]) or the map JSON of DiskMapExport::writeJSON ({"root": {"name",
// "size", "usage", "type", "children": [...]}, ...}), straight into a DiskMap.
// Directory sizes are summed again from the files; unreadable entries, exclusion marks and
// hard links come back as the scan had them. The input is streamed (no document in memory)
// and read without recursion, so no input can exhaust the stack; what is kept per level of
// nesting is a fixed multiple of the text that opens the level, so any depth a map can hold
// is read in memory linear in the text.
// Thread safety: read() may be called from any thread; it shares nothing.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/foundation/Result.h"
#include "vantelkit/scanning/DiskMap.h"

namespace vantelkit {

// Where and why a text is not a disk map.
class DiskMapImportError final : public Error {
 public:
  enum class Case {
    malformedJSON,    // the text is not JSON
    notADiskMap,      // JSON, but not laid out as either format
    nestedTooDeeply,  // deeper than ReadOptions::maxDepth
    tooLarge,         // more entries than a DiskMap can hold
  };
  DiskMapImportError(Case kind, std::size_t line, std::size_t column, std::string message)
      : _case(kind), _line(line), _column(column), _message(std::move(message)) {}

  Case kind() const { return _case; }
  std::size_t line() const { return _line; }      // 1-based
  std::size_t column() const { return _column; }  // 1-based, in bytes
  // What is wrong there, in words ("expected a directory's info object").
  const std::string& message() const { return _message; }

  std::string typeName() const override { return "DiskMapImportError"; }
  // The case name: "malformedJSON", "notADiskMap", "nestedTooDeeply" or "tooLarge".
  std::string description() const override;
  // "line:column: message".
  std::string localizedDescription() const override;

 private:
  Case _case;
  std::size_t _line;
  std::size_t _column;
  std::string _message;
};

class DiskMapImport {
 public:
  struct ReadOptions {
    // Most directory levels read (the root being level 1); deeper input is an error. By
    // default as many as a map can hold entries.
    std::size_t maxDepth = DiskMap::capacity;
  };

  // The map in text, or a DiskMapImportError saying where it is malformed. The map's elapsed
  // time is 0; its root path is the map's (resolved against the current folder when
  // relative). Entries are numbered breadth-first, each folder's children in the order the
  // text gives them.
  static Result<std::shared_ptr<DiskMap>> read(std::string_view text);
  static Result<std::shared_ptr<DiskMap>> read(std::string_view text, const ReadOptions& options);
};

}  // namespace vantelkit
