#include "vantelkit/platform/TextFolding.h"

#include <glib.h>

namespace vantelkit::platform {

namespace {

char32_t lowerAscii(unsigned char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<char32_t>(byte - 'A' + 'a') : static_cast<char32_t>(byte);
}

}  // namespace

void foldText(std::string_view text, TextFolding folding, std::u32string& out) {
  const bool caseInsensitive = folding.caseInsensitive;
  const bool diacriticInsensitive = folding.diacriticInsensitive;
  out.clear();
  const char* bytes = text.data();
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x80) {
      out.push_back(caseInsensitive ? lowerAscii(byte) : static_cast<char32_t>(byte));
      ++i;
      continue;
    }
    const auto remaining = static_cast<gssize>(text.size() - i);
    const gunichar c = g_utf8_get_char_validated(bytes + i, remaining);
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
      out.push_back(static_cast<char32_t>(0xDC00 + byte));
      ++i;
      continue;
    }
    i = static_cast<std::size_t>(g_utf8_next_char(bytes + i) - bytes);
    if (diacriticInsensitive) {
      gunichar parts[G_UNICHAR_MAX_DECOMPOSITION_LENGTH];
      const gsize count = g_unichar_fully_decompose(c, FALSE, parts, G_UNICHAR_MAX_DECOMPOSITION_LENGTH);
      for (gsize k = 0; k < count; ++k) {
        if (g_unichar_ismark(parts[k])) continue;
        out.push_back(static_cast<char32_t>(caseInsensitive ? g_unichar_tolower(parts[k]) : parts[k]));
      }
    } else {
      out.push_back(static_cast<char32_t>(caseInsensitive ? g_unichar_tolower(c) : c));
    }
  }
}

}  // namespace vantelkit::platform
