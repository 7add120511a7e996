// The library's own resources (string tables, images), embedded at build time from the
// project's resources/ folder. Thread safety: safe to call from any thread.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace vantelkit::platform {

// The bytes of the resource at path (relative to resources/, "/"-separated), or none.
// The bytes live for the whole process.
std::optional<std::string_view> embeddedResource(std::string_view path);
// Every embedded resource path, sorted.
std::vector<std::string_view> embeddedResourcePaths();

}  // namespace vantelkit::platform
