// Reads arbitrary bytes as a disk map (an ncdu export or the map JSON). Whatever is accepted
// must be a consistent tree: every folder's size is its own and the sum of what it holds; whatever is
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
  // Every child has a higher index than its folder: the sums, from the deepest up. A folder's
  // size is its own and what it holds, so never less than the sum below it.
  std::vector<std::int64_t> sums(map->count(), 0);
  for (std::size_t index = map->count(); index-- > 0;) {
    const auto& entry = (*map)[static_cast<DiskMap::Index>(index)];
    if (entry.isDirectory() && entry.size < sums[index]) __builtin_trap();
    if (index == 0) break;
    if (entry.parent >= index) __builtin_trap();
    if (!entry.hasMark(FileNode::duplicateLink) && __builtin_add_overflow(sums[entry.parent], entry.size, &sums[entry.parent]))
      __builtin_trap();
  }
  return 0;
}
