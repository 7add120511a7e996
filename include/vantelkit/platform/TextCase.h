// Case mapping of texts as the platform does it for people's names: full Unicode lower-casing
// of UTF-8 text.
// Thread safety: safe to call from any thread.
#pragma once

#include <string>
#include <string_view>

namespace vantelkit::platform {

// text lower-cased by the Unicode rules ("Über" becomes "über"). Text that is not valid
// UTF-8 has only its ASCII letters lowered, every other byte kept as it is.
std::string lowercased(std::string_view text);

// text case-folded into out, for comparisons that ignore case: Unicode full case folding,
// then canonical composition, so that "STRASSE" and "straße", or a "ü" written as "u" and a
// combining mark and a precomposed one, fold to the same bytes. ASCII text is folded without
// a trip through GLib; text that is not valid UTF-8 has only its ASCII letters folded.
void caseFold(std::string_view text, std::string& out);

}  // namespace vantelkit::platform
