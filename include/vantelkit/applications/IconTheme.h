// Icons with pixels: a theme icon name resolved to the files of the installed icon theme by
// the freedesktop icon-theme lookup (the theme's index.theme and its size folders, the themes
// it inherits, then "hicolor", then the plain pixmaps folder).
// Thread safety: parseIconThemeIndex is a pure function; an IconTheme is safe to use from any
// thread (it caches the indexes it has read).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/platform/Image.h"

namespace vantelkit {

struct IconThemeDirectory {
  enum class Type { fixed, scalable, threshold };
  // The folder below the theme's folder ("48x48/apps").
  std::string path;
  int size = 0;
  int scale = 1;
  int minSize = 0;
  int maxSize = 0;
  int threshold = 2;
  Type type = Type::threshold;
  bool operator==(const IconThemeDirectory&) const = default;
};

struct IconThemeIndex {
  std::string name;
  std::vector<std::string> inherits;
  std::vector<IconThemeDirectory> directories;
  bool operator==(const IconThemeIndex&) const = default;
};

// Reads the text of an index.theme file. None without an "[Icon Theme]" group; folders that
// the "Directories" list names without a group of their own, or with no valid "Size", are left
// out.
std::optional<IconThemeIndex> parseIconThemeIndex(std::string_view text);

class IconTheme {
 public:
  // The pixel sizes iconWithPixels() asks for, largest first.
  static const std::vector<int>& standardSizes();
  // The folders themes live in, in lookup order: home + "/.local/share/icons", home +
  // "/.icons", "/usr/local/share/icons", "/usr/share/icons" (through the root override).
  static std::vector<std::string> defaultBaseDirectories();
  // The theme of the shared instance.
  static constexpr std::string_view defaultThemeName = "Adwaita";

  // Without base directories, the default ones are taken at each lookup (so that a root or
  // home override set later applies); likewise the fallback folders ("/usr/share/pixmaps").
  explicit IconTheme(std::string themeName = std::string(defaultThemeName),
                     std::optional<std::vector<std::string>> baseDirectories = std::nullopt,
                     std::optional<std::vector<std::string>> fallbackDirectories = std::nullopt);
  IconTheme(const IconTheme&) = delete;
  IconTheme& operator=(const IconTheme&) = delete;

  // An instance for the default theme and folders, made on first use.
  static IconTheme& shared();

  // The file of the PNG or SVG icon named name that best fits size pixels, or none.
  std::optional<std::string> lookupIcon(std::string_view name, int size, int scale = 1) const;
  // icon with the theme files of its name added as representations (PNG with their pixel
  // width, SVG with the size it was looked up for), for each of sizes that resolves to a file
  // not yet taken. When the name has no file, the generic icon of its media type
  // ("text-x-generic" for "text-plain") and then the name without its trailing "-" parts are
  // tried. An icon without a name, or whose names no theme has, comes back as it is.
  platform::Image iconWithPixels(platform::Image icon, const std::vector<int>& sizes = standardSizes()) const;

 private:
  struct LoadedTheme {
    std::string name;
    IconThemeIndex index;
  };
  using Bases = std::vector<std::string>;
  std::shared_ptr<const LoadedTheme> theme(const Bases& bases, const std::string& name) const;
  std::optional<std::string> lookupInTheme(const Bases& bases, const LoadedTheme& theme, std::string_view name,
                                           int size, int scale) const;
  std::optional<std::string> findInHierarchy(const Bases& bases, const std::string& themeName, std::string_view name,
                                             int size, int scale, std::vector<std::string>& visited) const;

  const std::string _themeName;
  const std::optional<std::vector<std::string>> _baseDirectories;
  const std::optional<std::vector<std::string>> _fallbackDirectories;
  mutable std::mutex _mutex;
  // By the path of the index file; null: no usable index there. Guarded by _mutex.
  mutable std::map<std::string, std::shared_ptr<const LoadedTheme>, std::less<>> _themes;
};

}  // namespace vantelkit
