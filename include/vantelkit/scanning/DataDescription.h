// Two views of a byte buffer: its hex digits, and its text when it is valid UTF-8.
// Thread safety: pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vantelkit {

// Each byte as two lower-case hex digits, no separator ("00ab10").
std::string hexDescription(std::span<const std::uint8_t> bytes);
// The bytes as text, or none when they are not valid UTF-8 (overlong forms, surrogates and
// code points above U+10FFFF are invalid).
std::optional<std::string> utf8String(std::span<const std::uint8_t> bytes);
// Whether text is valid UTF-8.
bool isValidUTF8(std::string_view text);
// text with each byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string replacingInvalidUTF8(std::string_view text);

}  // namespace vantelkit
