#include "vantelkit/applications/IconTheme.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "foundation/internal/SmallFile.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {

namespace {

constexpr std::uintmax_t kMaximumIndexSize = 1024 * 1024;
constexpr std::uintmax_t kMaximumIconSize = 16 * 1024 * 1024;
constexpr int kMaximumInheritanceDepth = 16;

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

std::vector<std::string> splitList(std::string_view text) {
  std::vector<std::string> items;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = trim(text.substr(0, comma));
    if (!item.empty()) items.emplace_back(item);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return items;
}

std::optional<int> parseInt(std::string_view text) {
  text = trim(text);
  int value = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

bool isRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

bool matchesSize(const IconThemeDirectory& directory, int size, int scale) {
  if (directory.scale != scale) return false;
  switch (directory.type) {
    case IconThemeDirectory::Type::fixed:
      return directory.size == size;
    case IconThemeDirectory::Type::scalable:
      return directory.minSize <= size && size <= directory.maxSize;
    case IconThemeDirectory::Type::threshold:
      return directory.size - directory.threshold <= size && size <= directory.size + directory.threshold;
  }
  return false;
}

long sizeDistance(const IconThemeDirectory& directory, int size, int scale) {
  const long wanted = static_cast<long>(size) * scale;
  const long scaleOf = directory.scale;
  long low = 0;
  long high = 0;
  switch (directory.type) {
    case IconThemeDirectory::Type::fixed:
      return std::labs(static_cast<long>(directory.size) * scaleOf - wanted);
    case IconThemeDirectory::Type::scalable:
      low = static_cast<long>(directory.minSize) * scaleOf;
      high = static_cast<long>(directory.maxSize) * scaleOf;
      break;
    case IconThemeDirectory::Type::threshold:
      low = static_cast<long>(directory.size - directory.threshold) * scaleOf;
      high = static_cast<long>(directory.size + directory.threshold) * scaleOf;
      break;
  }
  if (wanted < low) return low - wanted;
  if (wanted > high) return wanted - high;
  return 0;
}

// The pixel width in a PNG's header, when the bytes start like a PNG.
std::optional<int> pngWidth(std::string_view bytes) {
  static constexpr std::string_view signature("\x89PNG\r\n\x1a\n", 8);
  if (bytes.size() < 24 || bytes.substr(0, 8) != signature || bytes.substr(12, 4) != "IHDR") return std::nullopt;
  std::uint32_t width = 0;
  for (int i = 16; i < 20; ++i) width = (width << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
  if (width == 0 || width > INT_MAX) return std::nullopt;
  return static_cast<int>(width);
}

}  // namespace

std::optional<IconThemeIndex> parseIconThemeIndex(std::string_view text) {
  std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>> groups;
  std::string groupName;
  bool inGroup = false;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = trim(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos) {
        inGroup = false;
        continue;
      }
      groupName = std::string(line.substr(1, close - 1));
      groups.try_emplace(groupName);
      inGroup = true;
      continue;
    }
    if (!inGroup) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = trim(line.substr(0, equals));
    // Localized keys ("Name[de]") are not needed for the lookup.
    if (key.empty() || key.find('[') != std::string_view::npos) continue;
    groups[groupName].insert_or_assign(std::string(key), std::string(trim(line.substr(equals + 1))));
  }
  auto header = groups.find("Icon Theme");
  if (header == groups.end()) return std::nullopt;
  const auto value = [](const auto& group, std::string_view key) -> std::optional<std::string_view> {
    auto found = group.find(key);
    if (found == group.end()) return std::nullopt;
    return std::string_view(found->second);
  };
  IconThemeIndex index;
  index.name = std::string(value(header->second, "Name").value_or(""));
  index.inherits = splitList(value(header->second, "Inherits").value_or(""));
  auto directories = splitList(value(header->second, "Directories").value_or(""));
  const auto scaled = splitList(value(header->second, "ScaledDirectories").value_or(""));
  directories.insert(directories.end(), scaled.begin(), scaled.end());
  for (const auto& path : directories) {
    auto group = groups.find(path);
    if (group == groups.end()) continue;
    IconThemeDirectory directory;
    directory.path = path;
    auto size = parseInt(value(group->second, "Size").value_or(""));
    if (!size || *size <= 0) continue;
    directory.size = *size;
    directory.scale = std::max(1, parseInt(value(group->second, "Scale").value_or("1")).value_or(1));
    directory.minSize = parseInt(value(group->second, "MinSize").value_or("")).value_or(directory.size);
    directory.maxSize = parseInt(value(group->second, "MaxSize").value_or("")).value_or(directory.size);
    directory.threshold = parseInt(value(group->second, "Threshold").value_or("")).value_or(2);
    const std::string_view type = value(group->second, "Type").value_or("Threshold");
    if (type == "Fixed") {
      directory.type = IconThemeDirectory::Type::fixed;
    } else if (type == "Scalable") {
      directory.type = IconThemeDirectory::Type::scalable;
    }
    index.directories.push_back(std::move(directory));
  }
  return index;
}

const std::vector<int>& IconTheme::standardSizes() {
  static const std::vector<int> sizes{512, 256, 128, 64, 32, 16};
  return sizes;
}

std::vector<std::string> IconTheme::defaultBaseDirectories() {
  return {platform::Paths::inHome(".local/share/icons"), platform::Paths::inHome(".icons"),
          platform::Paths::system("/usr/local/share/icons"), platform::Paths::system("/usr/share/icons")};
}

IconTheme::IconTheme(std::string themeName, std::optional<std::vector<std::string>> baseDirectories,
                     std::optional<std::vector<std::string>> fallbackDirectories)
    : _themeName(std::move(themeName)),
      _baseDirectories(std::move(baseDirectories)),
      _fallbackDirectories(std::move(fallbackDirectories)) {}

IconTheme& IconTheme::shared() {
  static IconTheme* theme = new IconTheme();  // lives for the process
  return *theme;
}

std::shared_ptr<const IconTheme::LoadedTheme> IconTheme::theme(const Bases& bases, const std::string& name) const {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return nullptr;
  for (const auto& base : bases) {
    const auto indexPath = (std::filesystem::path(base) / name / "index.theme").string();
    {
      std::lock_guard lock(_mutex);
      auto found = _themes.find(indexPath);
      if (found != _themes.end()) {
        if (found->second) return found->second;
        continue;
      }
    }
    std::shared_ptr<const LoadedTheme> loaded;
    if (auto text = internal::readRegularFile(indexPath, kMaximumIndexSize)) {
      if (auto index = parseIconThemeIndex(*text)) {
        loaded = std::make_shared<const LoadedTheme>(LoadedTheme{name, std::move(*index)});
      }
    }
    std::lock_guard lock(_mutex);
    auto& cached = _themes.try_emplace(indexPath, loaded).first->second;
    if (cached) return cached;
  }
  return nullptr;
}

std::optional<std::string> IconTheme::lookupInTheme(const Bases& bases, const LoadedTheme& theme,
                                                    std::string_view name, int size, int scale) const {
  static constexpr std::string_view extensions[] = {".png", ".svg"};
  for (const auto& directory : theme.index.directories) {
    if (!matchesSize(directory, size, scale)) continue;
    for (const auto& base : bases) {
      for (auto extension : extensions) {
        auto path = std::filesystem::path(base) / theme.name / directory.path / (std::string(name) + std::string(extension));
        if (isRegularFile(path)) return path.string();
      }
    }
  }
  std::optional<std::string> closest;
  long minimal = LONG_MAX;
  for (const auto& directory : theme.index.directories) {
    const long distance = sizeDistance(directory, size, scale);
    if (distance >= minimal) continue;
    for (const auto& base : bases) {
      bool found = false;
      for (auto extension : extensions) {
        auto path = std::filesystem::path(base) / theme.name / directory.path / (std::string(name) + std::string(extension));
        if (isRegularFile(path)) {
          closest = path.string();
          minimal = distance;
          found = true;
          break;
        }
      }
      if (found) break;
    }
  }
  return closest;
}

std::optional<std::string> IconTheme::findInHierarchy(const Bases& bases, const std::string& themeName,
                                                      std::string_view name, int size, int scale,
                                                      std::vector<std::string>& visited) const {
  if (visited.size() >= kMaximumInheritanceDepth ||
      std::find(visited.begin(), visited.end(), themeName) != visited.end()) {
    return std::nullopt;
  }
  visited.push_back(themeName);
  auto loaded = theme(bases, themeName);
  if (!loaded) return std::nullopt;
  if (auto file = lookupInTheme(bases, *loaded, name, size, scale)) return file;
  for (const auto& parent : loaded->index.inherits) {
    if (auto file = findInHierarchy(bases, parent, name, size, scale, visited)) return file;
  }
  return std::nullopt;
}

std::optional<std::string> IconTheme::lookupIcon(std::string_view name, int size, int scale) const {
  // An icon name is one file name without a folder.
  if (name.empty() || name.find('/') != std::string_view::npos || name == "." || name == ".." || size <= 0 ||
      scale <= 0) {
    return std::nullopt;
  }
  const Bases bases = _baseDirectories ? *_baseDirectories : defaultBaseDirectories();
  std::vector<std::string> visited;
  if (auto file = findInHierarchy(bases, _themeName, name, size, scale, visited)) return file;
  if (auto file = findInHierarchy(bases, "hicolor", name, size, scale, visited)) return file;
  const Bases fallbacks =
      _fallbackDirectories ? *_fallbackDirectories : Bases{platform::Paths::system("/usr/share/pixmaps")};
  for (const auto& directory : fallbacks) {
    for (std::string_view extension : {".png", ".svg"}) {
      auto path = std::filesystem::path(directory) / (std::string(name) + std::string(extension));
      if (isRegularFile(path)) return path.string();
    }
  }
  return std::nullopt;
}

platform::Image IconTheme::iconWithPixels(platform::Image icon, const std::vector<int>& sizes) const {
  if (!icon.iconName) return icon;
  // The name itself, then the generic icon of its media type ("text-plain" falls back to
  // "text-x-generic"), then the name with trailing "-" parts removed, as themes expect.
  std::vector<std::string> names{*icon.iconName};
  const std::size_t dash = icon.iconName->find('-');
  if (dash != std::string::npos && dash > 0) names.push_back(icon.iconName->substr(0, dash) + "-x-generic");
  for (std::string shorter = *icon.iconName; shorter.rfind('-') != std::string::npos && shorter.rfind('-') > 0;) {
    shorter.resize(shorter.rfind('-'));
    names.push_back(shorter);
  }
  std::vector<std::string> taken;
  for (const auto& name : names) {
    for (int size : sizes) {
      auto file = lookupIcon(name, size);
      if (!file || std::find(taken.begin(), taken.end(), *file) != taken.end()) continue;
      taken.push_back(*file);
      auto bytes = internal::readRegularFile(*file, kMaximumIconSize);
      if (!bytes) continue;
      platform::ImageRepresentation representation;
      if (auto width = pngWidth(*bytes)) {
        representation.pixelsWide = *width;
        representation.format = "png";
      } else if (file->size() > 4 && file->substr(file->size() - 4) == ".svg") {
        representation.pixelsWide = size;
        representation.format = "svg";
      } else {
        continue;
      }
      representation.data.assign(bytes->begin(), bytes->end());
      icon.representations.push_back(std::move(representation));
    }
    if (!taken.empty()) break;
  }
  return icon;
}

}  // namespace vantelkit
