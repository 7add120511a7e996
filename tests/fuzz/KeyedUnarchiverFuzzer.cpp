// Reads arbitrary bytes as a keyed archive, in both modes of unknown classes. Any crash, leak,
// hang or sanitizer report is a fault; so is a failure without a message, or a result that
// goes over the decoder's own limits.
#include <cstddef>
#include <cstdint>
#include <span>

#include "vantelkit/foundation/KeyedUnarchiver.h"

namespace {

using vantelkit::KeyedUnarchiver;
using vantelkit::Value;

std::size_t countValues(const Value& value) {
  std::size_t count = 1;
  if (const auto* array = value.array()) {
    for (const Value& element : *array) count += countValues(element);
  } else if (const auto* dictionary = value.dictionary()) {
    for (const auto& [key, member] : *dictionary) count += countValues(member);
  }
  return count;
}

void check(std::span<const std::uint8_t> bytes, bool decodeUnknownClasses) {
  auto result = KeyedUnarchiver::unarchiveTopLevelObject(bytes, {.decodeUnknownClasses = decodeUnknownClasses});
  if (!result) {
    if (result.error()->description().empty()) __builtin_trap();
    return;
  }
  if (*result && countValues(**result) > KeyedUnarchiver::maximumValueCount) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  check(bytes, false);
  check(bytes, true);
  return 0;
}
