// Decoding of text files whose encoding is given by a byte-order mark (the UTF-8 helpers are in
// Utf8.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/internal/Utf8.h"

namespace vantelkit::internal {

// The bytes as UTF-8: a UTF-16 (LE or BE) or UTF-8 mark picks the encoding and is dropped;
// without a mark, text whose first two bytes look like UTF-16 ("x\0" or "\0x") is taken as
// such, anything else as UTF-8. Unpaired UTF-16 surrogates become U+FFFD. None for an odd
// UTF-16 byte count or invalid UTF-8.
std::optional<std::string> decodeMarkedText(std::string_view bytes);

}  // namespace vantelkit::internal
