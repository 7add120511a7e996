// The name of the process-wide notification posted when the system's light or dark
// appearance changes. Thread safety: a constant.
#pragma once

#include <string_view>

namespace vantelkit {

inline constexpr std::string_view systemThemeChangedNotification = "AppleInterfaceThemeChangedNotification";

}  // namespace vantelkit
