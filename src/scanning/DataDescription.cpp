#include "vantelkit/scanning/DataDescription.h"

#include "foundation/internal/Utf8.h"

namespace vantelkit {

std::string hexDescription(std::span<const std::uint8_t> bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (auto byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

bool isValidUTF8(std::string_view text) { return internal::isValidUtf8(text); }

std::optional<std::string> utf8String(std::span<const std::uint8_t> bytes) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!isValidUTF8(text)) return std::nullopt;
  return std::string(text);
}

std::string replacingInvalidUTF8(std::string_view text) { return internal::replacingInvalidUtf8(text); }

}  // namespace vantelkit
