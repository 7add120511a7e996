// Text forms shared by the property-list reader and the dictionary coders: base64, ISO 8601
// dates, key case, and the paths that say where in a value an error is.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "vantelkit/foundation/Value.h"

namespace vantelkit::internal {

// Seconds between 1970-01-01 and 2001-01-01, the reference date of property lists.
inline constexpr double kReferenceDateOffset = 978307200.0;

// Where in a value a member or element is: "items[2].name".
std::string memberPath(const std::string& path, std::string_view key);
std::string indexPath(const std::string& path, std::size_t index);

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
