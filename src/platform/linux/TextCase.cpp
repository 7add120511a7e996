#include "vantelkit/platform/TextCase.h"

#include <glib.h>

namespace vantelkit::platform {

namespace {

std::string asciiLowercased(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

bool isASCII(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string lowercased(std::string_view text) {
  // Most file names are ASCII; they need no trip through GLib.
  if (isASCII(text) || !g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
    return asciiLowercased(text);
  }
  gchar* lowered = g_utf8_strdown(text.data(), static_cast<gssize>(text.size()));
  std::string result(lowered ? lowered : "");
  g_free(lowered);
  return result;
}

void caseFold(std::string_view text, std::string& out) {
  out.assign(text);
  if (isASCII(text) || !g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return;
  }
  gchar* folded = g_utf8_casefold(text.data(), static_cast<gssize>(text.size()));
  gchar* composed = folded ? g_utf8_normalize(folded, -1, G_NORMALIZE_DEFAULT_COMPOSE) : nullptr;
  if (composed) out.assign(composed);
  g_free(composed);
  g_free(folded);
}

}  // namespace vantelkit::platform
