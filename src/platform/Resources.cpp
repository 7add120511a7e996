#include "vantelkit/platform/Resources.h"

#include <utility>

namespace vantelkit::platform {
namespace detail {
extern const std::pair<std::string_view, std::string_view> kEmbeddedResources[];
}

std::optional<std::string_view> embeddedResource(std::string_view path) {
  for (auto* entry = detail::kEmbeddedResources; !entry->first.empty(); ++entry) {
    if (entry->first == path) return entry->second;
  }
  return std::nullopt;
}

std::vector<std::string_view> embeddedResourcePaths() {
  std::vector<std::string_view> paths;
  for (auto* entry = detail::kEmbeddedResources; !entry->first.empty(); ++entry) {
    paths.push_back(entry->first);
  }
  return paths;
}

}  // namespace vantelkit::platform
