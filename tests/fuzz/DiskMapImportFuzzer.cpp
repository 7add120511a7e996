// Reads arbitrary bytes as a disk map (an ncdu export or the map JSON). Whatever is accepted
// must be a consistent tree: every folder's size is the sum of its counted files; whatever is
// refused carries a message and a position inside the input. Any crash, leak, hang or
// sanitizer report is a fault.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "vantelkit/diskmap/DiskMapImport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vantelkit::DiskMap;
  using vantelkit::DiskMapImport;
  using vantelkit::DiskMapImportError;
  using vantelkit::FileNode;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto result = DiskMapImport::read(text);
  if (!result) {
    auto* error = result.errorAs<DiskMapImportError>();
    if (!error || error->message().empty() || error->line() == 0 || error->column() == 0 || error->line() > size + 1)
      __builtin_trap();
    return 0;
  }
  const auto& map = *result;
  if (!map || map->count() == 0) __builtin_trap();
  // Every child has a higher index than its folder: the sums, from the deepest up.
  std::vector<std::int64_t> sums(map->count(), 0);
  for (std::size_t index = map->count(); index-- > 1;) {
    const auto& entry = (*map)[static_cast<DiskMap::Index>(index)];
    if (entry.parent >= index) __builtin_trap();
    const std::int64_t own = entry.isDirectory() ? sums[index] : entry.size;
    if (entry.isDirectory() && own != entry.size) __builtin_trap();
    if (!entry.hasMark(FileNode::duplicateLink)) sums[entry.parent] += own;
  }
  if (sums[0] != map->root().size) __builtin_trap();
  return 0;
}
