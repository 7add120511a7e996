// Feeds arbitrary bytes to the string-table parser, and the same bytes as a format to the
// text formatter.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/foundation/LocalizedStrings.h"
#include "vantelkit/foundation/StringTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vantelkit::ErrorPtr error;
  auto table = vantelkit::StringTable::parse(bytes, &error);
  if (!table && !error) __builtin_trap();
  const std::vector<vantelkit::FormatArgument> arguments{std::string("text"), std::int64_t{-42}};
  (void)vantelkit::formatText(bytes, arguments);
  return 0;
}
