// Text comparison that ignores case or diacritical marks: a text is turned into its code
// points, each lower-cased and stripped of marks as asked, so that folded texts compare
// equal where people would call them equal ("Résumé" and "resume").
// Thread safety: pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace vantelkit::platform {

// What foldText() ignores.
struct TextFolding {
  bool caseInsensitive = false;
  bool diacriticInsensitive = false;
  bool operator==(const TextFolding&) const = default;
};

// Replaces out with the code points of text (UTF-8), lower-cased when caseInsensitive and
// without combining marks (a precomposed letter becomes its base letter) when
// diacriticInsensitive. A byte that is not part of valid UTF-8 becomes the code point
// 0xDC00 + byte, which no valid text produces, so such names still compare exactly.
void foldText(std::string_view text, TextFolding folding, std::u32string& out);

}  // namespace vantelkit::platform
