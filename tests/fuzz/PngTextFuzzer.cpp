// Feeds arbitrary bytes to the PNG text reader: it answers texts or a PngError, never both and
// never neither; any crash, leak, hang or sanitizer report (a read past the input) is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "vantelkit/formats/PngText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Copied, so that the sanitizer sees a read past the exact end of the input.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  vantelkit::ErrorPtr error;
  auto texts = vantelkit::readPngText(bytes, &error);
  if (texts.has_value() == static_cast<bool>(error)) std::abort();
  if (texts) {
    for (const auto& [keyword, text] : *texts)
      if (keyword.empty() || keyword.size() > 2 * 79) std::abort();
  }
  return 0;
}
