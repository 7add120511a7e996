#include "vantelkit/system/Conveniences.h"

#include <filesystem>

#include "vantelkit/platform/Workspace.h"

namespace vantelkit {

std::string localizedName(const FileURL& url) { return platform::Workspace::shared().localizedName(url.path()); }

std::optional<std::vector<URLQueryItem>> queryItems(const URL& url) {
  auto components = URLComponents::parse(url.absoluteString());
  if (!components) return std::nullopt;
  return components->queryItems();
}

bool fileExists(const FileURL& url) {
  std::error_code error;
  return std::filesystem::exists(url.path(), error);
}

}  // namespace vantelkit
