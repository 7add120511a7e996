// Text forms shared by the dictionary coders: base64, ISO 8601 dates and key case.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vantelkit/foundation/Value.h"

namespace vantelkit::internal {

// Standard base64 with padding.
std::string base64Encode(const Data& data);
// None unless text is standard base64 with correct padding.
std::optional<Data> base64Decode(std::string_view text);

// "YYYY-MM-DDTHH:MM:SSZ", the date rounded down to the whole second; none for a date that is
// not finite or lies outside the years 0 to 9999.
std::optional<std::string> iso8601Format(Date date);
// Parses "YYYY-MM-DDTHH:MM:SS", an optional fraction, then "Z", "+HH:MM" or "+HHMM"
// (or "-"); none for anything else or an impossible date or time.
std::optional<Date> iso8601Parse(std::string_view text);

std::string snakeCaseFromCamelCase(std::string_view key);
std::string camelCaseFromSnakeCase(std::string_view key);

}  // namespace vantelkit::internal
