#include "vantelkit/platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
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

std::optional<std::string> Paths::homeOverride() {
  std::lock_guard lock(overridesMutex);
  return homeValue;
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

namespace {

bool isFolder(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool pathExists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

// The variable's value when the environment applies and it holds an absolute path.
std::optional<std::string> environmentPath(const char* name) {
  if (Paths::environmentIgnored()) return std::nullopt;
  const char* value = std::getenv(name);
  if (!value || value[0] != '/') return std::nullopt;
  return withoutTrailingSlash(value);
}

std::vector<std::string> folderList(const char* name, std::initializer_list<std::string_view> defaults) {
  std::vector<std::string> folders;
  if (!Paths::environmentIgnored()) {
    if (const char* value = std::getenv(name); value && *value) {
      std::string_view rest(value);
      while (!rest.empty()) {
        auto colon = rest.find(':');
        std::string_view entry = rest.substr(0, colon);
        if (!entry.empty() && entry.front() == '/') folders.push_back(withoutTrailingSlash(std::string(entry)));
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
      }
      if (!folders.empty()) return folders;
    }
  }
  for (auto folder : defaults) folders.push_back(Paths::system(folder));
  return folders;
}

struct UserDirectoryName {
  Paths::UserDirectory directory;
  const char* variable;
  const char* fallback;
};

constexpr std::array<UserDirectoryName, 8> kUserDirectories{{
    {Paths::UserDirectory::desktop, "XDG_DESKTOP_DIR", "Desktop"},
    {Paths::UserDirectory::download, "XDG_DOWNLOAD_DIR", "Downloads"},
    {Paths::UserDirectory::templates, "XDG_TEMPLATES_DIR", "Templates"},
    {Paths::UserDirectory::publicShare, "XDG_PUBLICSHARE_DIR", "Public"},
    {Paths::UserDirectory::documents, "XDG_DOCUMENTS_DIR", "Documents"},
    {Paths::UserDirectory::music, "XDG_MUSIC_DIR", "Music"},
    {Paths::UserDirectory::pictures, "XDG_PICTURES_DIR", "Pictures"},
    {Paths::UserDirectory::videos, "XDG_VIDEOS_DIR", "Videos"},
}};

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string_view Paths::layoutName(Layout layout) { return layout == Layout::document ? "document" : "xdg"; }

std::optional<Paths::Layout> Paths::parseLayout(std::string_view name) {
  if (name == "document") return Layout::document;
  if (name == "xdg") return Layout::xdg;
  return std::nullopt;
}

Paths::Layout Paths::automaticLayout() {
  for (const char* inside : {"Caches", "Application Support", "Logs", "Preferences"}) {
    if (isFolder(inHome(std::string("Library/") + inside))) return Layout::document;
  }
  bool linuxHome = pathExists(inHome(".config")) || pathExists(inHome(".cache")) || pathExists(inHome(".local"));
  if (!linuxHome && (isFolder(system("/Library/Logs")) || isFolder(system("/Applications")))) return Layout::document;
  return Layout::xdg;
}

bool Paths::environmentIgnored() {
  std::lock_guard lock(overridesMutex);
  return rootValue.has_value() || homeValue.has_value();
}

std::string Paths::xdgCacheHome() { return environmentPath("XDG_CACHE_HOME").value_or(inHome(".cache")); }
std::string Paths::xdgConfigHome() { return environmentPath("XDG_CONFIG_HOME").value_or(inHome(".config")); }
std::string Paths::xdgDataHome() { return environmentPath("XDG_DATA_HOME").value_or(inHome(".local/share")); }
std::string Paths::xdgStateHome() { return environmentPath("XDG_STATE_HOME").value_or(inHome(".local/state")); }

std::vector<std::string> Paths::xdgDataDirs() { return folderList("XDG_DATA_DIRS", {"/usr/local/share", "/usr/share"}); }
std::vector<std::string> Paths::xdgConfigDirs() { return folderList("XDG_CONFIG_DIRS", {"/etc/xdg"}); }

std::map<std::string, std::string> Paths::parseUserDirs(std::string_view text, std::string_view home) {
  std::map<std::string, std::string> folders;
  while (!text.empty()) {
    auto end = text.find('\n');
    std::string_view line = trimmed(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view name = trimmed(line.substr(0, equals));
    std::string_view value = trimmed(line.substr(equals + 1));
    if (name.empty() || value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    std::string path;
    if (value.substr(0, 5) == "$HOME" && (value.size() == 5 || value[5] == '/')) {
      path = std::string(home);
      value.remove_prefix(5);
    } else if (value.empty() || value.front() != '/') {
      continue;
    }
    bool valid = true;
    for (std::size_t index = 0; index < value.size(); ++index) {
      char c = value[index];
      if (c == '\\') {
        if (++index == value.size()) { valid = false; break; }
        path += value[index];
      } else if (c == '"' || c == '$' || c == '`' || c == '\0') {
        valid = false;
        break;
      } else {
        path += c;
      }
    }
    if (!valid) continue;
    folders[std::string(name)] = withoutTrailingSlash(path.empty() ? std::string("/") : path);
  }
  return folders;
}

std::string Paths::userDirectory(UserDirectory directory) {
  const UserDirectoryName* entry = &kUserDirectories[0];
  for (const auto& candidate : kUserDirectories) {
    if (candidate.directory == directory) entry = &candidate;
  }
  std::ifstream file(xdgConfigHome() + "/user-dirs.dirs", std::ios::binary);
  if (file) {
    std::ostringstream contents;
    contents << file.rdbuf();
    std::string text = contents.str();
    if (text.size() > 1 << 20) text.resize(1 << 20);
    auto folders = parseUserDirs(text, home());
    if (auto found = folders.find(entry->variable); found != folders.end()) return found->second;
  }
  return inHome(entry->fallback);
}

}  // namespace vantelkit::platform
