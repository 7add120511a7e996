// Feeds arbitrary bytes to the ".icns" reader and checks that every entry it reports lies
// inside the input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vantelkit/formats/IcnsReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vantelkit::ErrorPtr error;
  auto file = vantelkit::readIcns(bytes, &error);
  if (!file) {
    if (!error) __builtin_trap();
    return 0;
  }
  for (const auto& entry : file->entries) {
    if (entry.offset > size || entry.length > size - entry.offset) __builtin_trap();
  }
  return 0;
}
