// The URL schemes the application's own links use. Thread safety: constants.
#pragma once

#include <string_view>

namespace vantelkit::URLScheme {

// The application's own scheme: a link to a file to download, among others.
inline constexpr std::string_view vantelFile = "vantelfile";
inline constexpr std::string_view https = "https";

}  // namespace vantelkit::URLScheme
