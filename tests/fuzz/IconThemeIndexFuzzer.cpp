// Reads arbitrary bytes as an icon theme's index.theme. Every folder taken must have a
// positive size and scale; any crash, leak, hang or sanitizer report is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "vantelkit/applications/IconTheme.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto index = vantelkit::parseIconThemeIndex(text)) {
    for (const auto& directory : index->directories) {
      if (directory.size <= 0 || directory.scale <= 0 || directory.path.empty()) std::abort();
    }
  }
  return 0;
}
