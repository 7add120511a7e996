// The old-style text form of property lists: { key = value; }, ( a, b ), quoted and unquoted
// strings, <0fbd> data and C comments. It has no numbers, booleans or dates: everything that
// is not a container or data is a string. libplist has no reader for it, so this is ours.
// Thread safety: stateless; safe to call from any thread.
#pragma once

#include <string_view>

#include "vantelkit/foundation/CodingError.h"
#include "vantelkit/foundation/Result.h"
#include "vantelkit/foundation/Value.h"

namespace vantelkit::internal {

// True when text (after an optional UTF-8 byte order mark, white space and comments) opens
// as an old-style property list rather than an XML one: with "{", "(", a quote, a character
// of an unquoted string, or "<" followed by nothing but hex digits and white space up to ">".
bool looksLikeOldStylePropertyList(std::string_view text);

// Reads text as one old-style value followed by nothing but white space and comments.
// Strings must be UTF-8 and may not hold a NUL character; an octal escape above \177 is read
// as the Latin-1 character of that value. Arrays and dictionaries nested deeper than
// maximumDepth fail with limitExceeded; everything else that is not well formed fails with
// dataCorrupted, naming the line. A repeated dictionary key keeps its last value.
Result<Value> parseOldStylePropertyList(std::string_view text, int maximumDepth);

}  // namespace vantelkit::internal
