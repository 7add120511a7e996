#include "TextOutput.h"

#include <fmt/format.h>

#include <array>
#include <cctype>
#include <limits>

#include "vantelkit/scanning/DataDescription.h"

namespace vantel {

std::string formatBytes(std::int64_t bytes) {
  if (bytes > -1000 && bytes < 1000) return countOf(bytes, "byte");
  static constexpr std::array<const char*, 6> units{"KB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  value /= 1000;
  while ((value >= 999.95 || value <= -999.95) && unit + 1 < units.size()) {
    value /= 1000;
    ++unit;
  }
  return fmt::format("{:.1f} {}", value, units[unit]);
}

std::string countOf(std::int64_t count, std::string_view noun, std::string_view plural) {
  if (count == 1) return fmt::format("1 {}", noun);
  return plural.empty() ? fmt::format("{} {}s", count, noun) : fmt::format("{} {}", count, plural);
}

std::string entriesText(std::int64_t count) {
  return fmt::format("{} {}", count, count == 1 ? "file or folder" : "files and folders");
}

namespace {
// Length of the valid UTF-8 sequence at text[i], or 0 when the bytes there are not one.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
  auto byte = static_cast<unsigned char>(text[i]);
  std::size_t length = byte < 0xC2 ? 0 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : byte < 0xF5 ? 4 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  return vantelkit::isValidUTF8(text.substr(i, length)) ? length : 0;
}
}  // namespace

std::string escapedForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  appendEscapedForTerminal(out, text);
  return out;
}

void appendEscapedForTerminal(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    // The run of plain printable ASCII up to the next byte that needs a look.
    std::size_t run = i;
    while (run < text.size()) {
      auto c = static_cast<unsigned char>(text[run]);
      if (c < 0x20 || c >= 0x7f || c == '\\') break;
      ++run;
    }
    out.append(text, i, run - i);
    i = run;
    if (i == text.size()) break;
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      std::size_t length = utf8SequenceLength(text, i);
      // U+0080 to U+009F are control characters too (U+009B starts a terminal command on
      // some terminals): their two bytes are escaped like any other, as ls -b does.
      if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
        out += fmt::format("\\{:03o}\\{:03o}", c, static_cast<unsigned char>(text[i + 1]));
        i += 2;
        continue;
      }
      if (length != 0) {
        out.append(text, i, length);
        i += length;
        continue;
      }
    }
    ++i;
    switch (c) {
      case '\\': out += "\\\\"; continue;
      case '\a': out += "\\a"; continue;
      case '\b': out += "\\b"; continue;
      case '\t': out += "\\t"; continue;
      case '\n': out += "\\n"; continue;
      case '\v': out += "\\v"; continue;
      case '\f': out += "\\f"; continue;
      case '\r': out += "\\r"; continue;
      default: break;
    }
    out += fmt::format("\\{:03o}", c);
  }
}

std::optional<std::int64_t> parseWholeNumber(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<std::int64_t> parseByteCount(std::string_view text) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  auto number = parseWholeNumber(text.substr(0, digits));
  if (!number) return std::nullopt;
  std::string unit;
  for (char c : text.substr(digits)) unit += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static constexpr std::string_view letters = "kmgt";
  std::int64_t multiplier = 1;
  if (!unit.empty() && unit != "b") {
    auto power = letters.find(unit[0]);
    if (power == std::string_view::npos) return std::nullopt;
    std::string_view rest = std::string_view(unit).substr(1);
    std::int64_t base;
    if (rest.empty() || rest == "b") {
      base = 1000;
    } else if (rest == "ib") {
      base = 1024;
    } else {
      return std::nullopt;
    }
    for (std::size_t i = 0; i <= power; ++i) multiplier *= base;
  }
  if (*number > std::numeric_limits<std::int64_t>::max() / multiplier) return std::nullopt;
  return *number * multiplier;
}

}  // namespace vantel
