// System side of thread identity, implemented per platform.
#pragma once

#include <string>
#include <string_view>

namespace vantelkit::platform::internal {

// The calling thread's own name, or empty when it has none of its own.
std::string platformThreadName();
void setPlatformThreadName(std::string_view name);
// Gives the calling thread no name of its own (pool threads start like that).
void clearPlatformThreadName();

}  // namespace vantelkit::platform::internal
