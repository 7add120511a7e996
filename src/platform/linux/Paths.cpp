#include "vantelkit/platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <vector>

namespace vantelkit::platform {

namespace {

std::mutex overridesMutex;
std::optional<std::string> rootValue;  // guarded by overridesMutex
std::optional<std::string> homeValue;  // guarded by overridesMutex

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string platformHome() {
  if (const char* env = std::getenv("HOME"); env && *env) return env;
  struct passwd entry {};
  struct passwd* result = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir) {
    return result->pw_dir;
  }
  return "/";
}

}  // namespace

void Paths::setRootOverride(std::optional<std::string> root) {
  std::lock_guard lock(overridesMutex);
  if (root) root = withoutTrailingSlash(*root);
  if (root && *root == "/") root.reset();
  rootValue = std::move(root);
}

std::optional<std::string> Paths::rootOverride() {
  std::lock_guard lock(overridesMutex);
  return rootValue;
}

void Paths::setHomeOverride(std::optional<std::string> home) {
  std::lock_guard lock(overridesMutex);
  if (home) home = withoutTrailingSlash(*home);
  homeValue = std::move(home);
}

std::string Paths::home() {
  {
    std::lock_guard lock(overridesMutex);
    if (homeValue) return *homeValue;
  }
  return withoutTrailingSlash(platformHome());
}

std::string Paths::system(std::string_view absolutePath) {
  std::lock_guard lock(overridesMutex);
  if (!rootValue) return std::string(absolutePath);
  std::string path = *rootValue;
  if (!absolutePath.empty() && absolutePath.front() != '/') path += '/';
  path += absolutePath;
  return path;
}

std::string Paths::inHome(std::string_view relative) {
  std::string path = home();
  while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
  if (path != "/") path += '/';
  path += relative;
  return path;
}

}  // namespace vantelkit::platform
