#include "support/ApplicationLayout.h"

#include <filesystem>

#include "support/BundleBuilder.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit::testing {

ApplicationLayout::ApplicationLayout() {
  _tree.directory("root");
  _tree.directory("home");
  platform::Paths::setRootOverride(_tree.path("root"));
  platform::Paths::setHomeOverride(_tree.path("home"));
}

ApplicationLayout::~ApplicationLayout() {
  platform::Paths::setRootOverride(std::nullopt);
  platform::Paths::setHomeOverride(std::nullopt);
}

std::string ApplicationLayout::system(std::string_view relative) const {
  while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
  return _tree.path("root") + "/" + std::string(relative);
}

std::string ApplicationLayout::home(std::string_view relative) const {
  return _tree.path("home") + "/" + std::string(relative);
}

std::string ApplicationLayout::application(const std::string& path, std::string_view identifier,
                                           std::string_view name, std::int64_t executableSize,
                                           std::string_view version) {
  writeBundle(path, Value(applicationInfo(identifier, name, version)));
  file(path + "/Contents/MacOS/" + std::string(name), executableSize);
  return path;
}

std::string ApplicationLayout::file(const std::string& path, std::int64_t size) {
  writeFile(path, std::string(static_cast<std::size_t>(size), 'x'));
  return path;
}

std::string ApplicationLayout::directory(const std::string& path) {
  std::filesystem::create_directories(path);
  return path;
}

}  // namespace vantelkit::testing
