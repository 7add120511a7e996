// The entries of a disk map that pass a set of filters (name contains, extension, a shell
// pattern or a regular expression for the name, minimum size, type), listed in the byte
// order of their paths, as sort(1) would order them.
// Thread safety: a DiskMapSearch is immutable once made; matches() and forEachMatch() may be
// called from any thread, on a finished map.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/foundation/Result.h"
#include "vantelkit/scanning/DiskMap.h"

namespace vantelkit {

namespace platform {
class RegularExpression;
}

// Why a search cannot be made from its filters.
class DiskMapSearchError final : public Error {
 public:
  enum class Case { badRegularExpression };
  DiskMapSearchError(Case kind, std::string pattern, std::string reason)
      : _case(kind), _pattern(std::move(pattern)), _reason(std::move(reason)) {}

  Case kind() const { return _case; }
  const std::string& pattern() const { return _pattern; }
  // What is wrong with it, in words ("missing ) at end of pattern at offset 2").
  const std::string& reason() const { return _reason; }

  std::string typeName() const override { return "DiskMapSearchError"; }
  std::string description() const override { return "badRegularExpression"; }
  std::string localizedDescription() const override { return _reason; }

 private:
  Case _case;
  std::string _pattern;
  std::string _reason;
};

class DiskMapSearch {
 public:
  // Every filter given must pass.
  struct Filter {
    // The name holds this text.
    std::optional<std::string> nameContains{};
    // The name ends with "." and this extension, in any case (a leading dot is allowed;
    // "tar.gz" is matched whole). A name that is only the extension (".gz") has none.
    std::optional<std::string> extension{};
    // The whole name matches this shell pattern (*, ?, [...]; "?" stands for one byte).
    std::optional<std::string> glob{};
    // This regular expression (Perl-compatible syntax) matches somewhere in the name.
    std::optional<std::string> regex{};
    // nameContains, glob and regex ignore case. Case is folded by the Unicode rules; a name
    // that is not valid UTF-8 is compared byte by byte, its ASCII letters folded.
    bool ignoreCase = false;
    // The entry's own size (a folder's being 0) is at least this many bytes.
    std::optional<std::int64_t> minimumSize{};
    // The entry is of one of these types (of any when empty).
    std::vector<FileNode::NodeType> types{};
  };

  // The search, or a DiskMapSearchError when the regular expression does not compile.
  static Result<DiskMapSearch> make(Filter filter);

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
  std::uint32_t _types = 0;  // bit n set: NodeType n passes; 0: any
  std::optional<std::string> _suffix;    // "." and the extension, folded
  std::optional<std::string> _contains;  // folded when _fold
  std::optional<std::string> _glob;      // folded when _fold
  std::shared_ptr<const platform::RegularExpression> _regex;

  explicit DiskMapSearch(Filter filter);
};

}  // namespace vantelkit
