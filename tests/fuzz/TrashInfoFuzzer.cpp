// Reads arbitrary bytes as a trash information file and as a trash's directorysizes cache.
// A path must be non-empty, a date a real one, a cached name a plain file name; any crash,
// leak, hang or sanitizer report is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "vantelkit/formats/TrashDirectorySizes.h"
#include "vantelkit/formats/TrashInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto info = vantelkit::parseTrashInfo(text)) {
    if (info->path.empty()) std::abort();
    if (info->deletionDate && (info->deletionDate->month < 1 || info->deletionDate->month > 12)) std::abort();
    if (info->originalPath("/media/v").empty()) std::abort();
  }
  for (const auto& entry : vantelkit::parseTrashDirectorySizes(text)) {
    if (entry.name.empty() || entry.name.find('/') != std::string::npos) std::abort();
  }
  if (vantelkit::percentDecoded(text).size() > size) std::abort();
  return 0;
}
