#include "foundation/internal/TextDecoding.h"

#include <cstddef>

namespace vantelkit::internal {

namespace {

std::optional<std::string> decodeUtf16(std::string_view bytes, bool bigEndian) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(bytes.size());
  auto unitAt = [&](std::size_t i) -> std::uint32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (std::uint32_t{a} << 8) | b : (std::uint32_t{b} << 8) | a;
  };
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const std::uint32_t unit = unitAt(i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      const std::uint32_t low = unitAt(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    appendUtf8(out, unit);  // an unpaired surrogate becomes U+FFFD
  }
  return out;
}

}  // namespace

std::optional<std::string> decodeMarkedText(std::string_view bytes) {
  auto startsWith = [&](std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; };
  if (startsWith("\xFF\xFE")) return decodeUtf16(bytes.substr(2), false);
  if (startsWith("\xFE\xFF")) return decodeUtf16(bytes.substr(2), true);
  if (startsWith("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  else if (bytes.size() >= 2 && bytes.size() % 2 == 0) {
    if (bytes[0] != '\0' && bytes[1] == '\0') return decodeUtf16(bytes, false);
    if (bytes[0] == '\0' && bytes[1] != '\0') return decodeUtf16(bytes, true);
  }
  if (!isValidUtf8(bytes)) return std::nullopt;
  return std::string(bytes);
}

}  // namespace vantelkit::internal
