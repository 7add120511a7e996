// The library's UTF-8 helpers: the one validator (for the coders, the text decoders, the JSON
// writer and the public helpers in DataDescription) and the one encoder of code points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantelkit::internal {

// The length of the well-formed UTF-8 sequence that starts at text[i] (1 for ASCII), or 0
// when the bytes there are not one: an overlong form, a surrogate, a value past U+10FFFF, a
// stray continuation byte or a sequence cut short. i < text.size().
std::size_t utf8SequenceLength(std::string_view text, std::size_t i);

// True when text is well-formed UTF-8 throughout.
bool isValidUtf8(std::string_view text);

// text with each byte that is not part of a well-formed sequence replaced by U+FFFD.
std::string replacingInvalidUtf8(std::string_view text);

// Appends the UTF-8 form of a code point; surrogates and values past U+10FFFF become U+FFFD.
void appendUtf8(std::string& out, std::uint32_t codePoint);

}  // namespace vantelkit::internal
