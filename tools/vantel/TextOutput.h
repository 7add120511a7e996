// Texts for people and the parsing of numbers given on the command line: byte counts in
// decimal units, plurals, names with control characters escaped, and whole numbers and
// sizes with units.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantel {

// "1.2 GB", "532 bytes", "1 byte": decimal units, as file managers show sizes.
std::string formatBytes(std::int64_t bytes);
// "1 file", "3 files": count and noun, the noun in plural (noun + "s" unless given) unless
// count is 1.
std::string countOf(std::int64_t count, std::string_view noun, std::string_view plural = {});
// "1 file or folder", "3 files and folders".
std::string entriesText(std::int64_t count);
// text with control characters (C0, DEL and C1), backslashes and bytes that are not UTF-8
// written as C escapes ("\n", "\t", "\\", "\177", "\302\233"), as ls -b does, so a name
// cannot move the cursor.
std::string escapedForTerminal(std::string_view text);
// Appends escapedForTerminal(text) to out.
void appendEscapedForTerminal(std::string& out, std::string_view text);

// A whole number ≥ 0 in decimal digits only; none for anything else ("-1", "1k", "").
std::optional<std::int64_t> parseWholeNumber(std::string_view text);
// A byte count: a whole number with an optional unit K, M, G, T (powers of 1000, "B"
// allowed after them) or KiB, MiB, GiB, TiB (powers of 1024); case-insensitive.
std::optional<std::int64_t> parseByteCount(std::string_view text);

}  // namespace vantel
