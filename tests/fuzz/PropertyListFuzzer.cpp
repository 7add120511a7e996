// Reads arbitrary bytes as a property list; whatever parses is written out as XML and read
// again. Any crash, leak, hang or sanitizer report is a fault.
#include <cstddef>
#include <cstdint>
#include <span>

#include "vantelkit/foundation/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vantelkit::PropertyList;
  auto value = PropertyList::parse(std::span<const std::uint8_t>(data, size));
  if (!value) {
    // Every failure carries a message.
    if (value.error().description().empty()) __builtin_trap();
    return 0;
  }
  auto xml = PropertyList::xmlData(*value);
  if (xml) {
    auto again = PropertyList::parse(*xml);
    (void)again;
  }
  return 0;
}
