// The entries of a disk map that pass a set of filters (name contains, extension, minimum
// size, type), listed in the byte order of their paths, as sort(1) would order them.
// Thread safety: a DiskMapSearch is immutable once made; matches() and forEachMatch() may be
// called from any thread, on a finished map.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "vantelkit/scanning/DiskMap.h"

namespace vantelkit {

class DiskMapSearch {
 public:
  // Every filter given must pass.
  struct Filter {
    // The name holds this text.
    std::optional<std::string> nameContains{};
    // The name ends with "." and this extension, in any case (a leading dot is allowed;
    // "tar.gz" is matched whole). A name that is only the extension (".gz") has none.
    std::optional<std::string> extension{};
    // nameContains ignores case. Case is folded by the Unicode rules; a name that is not
    // valid UTF-8 is compared byte by byte, its ASCII letters folded.
    bool ignoreCase = false;
    // The entry's own size (a folder's being 0) is at least this many bytes.
    std::optional<std::int64_t> minimumSize{};
    // The entry is of this type.
    std::optional<FileNode::NodeType> type{};
  };

  explicit DiskMapSearch(Filter filter);

  bool matches(const DiskMap::Entry& entry) const;

  // Calls found(index, path) for each entry below the map's root that matches, in the byte
  // order of the paths; a path is rootPath (a "/" added unless it ends with one) followed by
  // the names below the root.
  void forEachMatch(const DiskMap& map, std::string_view rootPath,
                    const std::function<void(DiskMap::Index index, const std::string& path)>& found) const;

  // The size a search reports: a file's own size; 0 for a folder.
  static std::int64_t ownSize(const DiskMap::Entry& entry) { return entry.isDirectory() ? 0 : entry.size; }

 private:
  bool _fold;
  std::optional<std::int64_t> _minimumSize;
  std::optional<FileNode::NodeType> _type;
  std::optional<std::string> _suffix;    // "." and the extension, folded
  std::optional<std::string> _contains;  // folded when _fold
};

}  // namespace vantelkit
