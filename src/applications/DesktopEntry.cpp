#include "vantelkit/applications/DesktopEntry.h"

#include <fmt/core.h>

#include <algorithm>

#include "vantelkit/platform/DesktopEntryFile.h"
#include "vantelkit/platform/TextCase.h"

namespace vantelkit {

namespace {

std::vector<std::string> splitList(std::string_view value) {
  std::vector<std::string> items;
  std::string current;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\\' && i + 1 < value.size() && value[i + 1] == ';') {
      current += ';';
      ++i;
    } else if (c == ';') {
      if (!current.empty()) items.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) items.push_back(std::move(current));
  return items;
}

bool isTrue(const platform::DesktopEntryKeys& keys, std::string_view key) {
  auto found = keys.values.find(key);
  return found != keys.values.end() && (found->second == "true" || found->second == "1");
}

std::optional<std::string> valueOf(const platform::DesktopEntryKeys& keys, std::string_view key) {
  auto found = keys.values.find(key);
  if (found == keys.values.end() || found->second.empty()) return std::nullopt;
  return found->second;
}

std::optional<std::string> localizedOf(const platform::DesktopEntryKeys& keys, std::string_view key) {
  auto found = keys.localizedValues.find(key);
  if (found == keys.localizedValues.end() || found->second.empty()) return valueOf(keys, key);
  return found->second;
}

std::string lastComponent(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool namesOneOf(const std::vector<std::string>& list, const std::vector<std::string>& desktops) {
  for (const auto& item : list) {
    for (const auto& desktop : desktops) {
      if (platform::lowercased(item) == platform::lowercased(desktop)) return true;
    }
  }
  return false;
}

}  // namespace

std::string DesktopEntryError::description() const {
  return _case == Case::malformed ? "malformed" : "missingKey";
}

std::string DesktopEntryError::localizedDescription() const {
  if (_case == Case::missingKey) return fmt::format("no {} key", _detail);
  if (_line == 0) return _detail;
  return fmt::format("line {}: {}", _line, _detail);
}

std::optional<std::vector<std::string>> DesktopEntry::splitExec(std::string_view exec) {
  std::vector<std::string> arguments;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size() && std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
        current += exec[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        current += c;
      }
    } else if (c == '"') {
      quoted = true;
      inArgument = true;
    } else if (c == ' ' || c == '\t') {
      if (inArgument) arguments.push_back(std::move(current));
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (quoted) return std::nullopt;
  if (inArgument) arguments.push_back(std::move(current));
  return arguments;
}

std::string DesktopEntry::desktopIdFor(std::string_view relativePath) {
  std::string id(relativePath);
  std::replace(id.begin(), id.end(), '/', '-');
  return id;
}

bool DesktopEntry::isShown(const std::vector<std::string>& desktops) const {
  if (noDisplay || hidden) return false;
  if (!onlyShowIn.empty() && !namesOneOf(onlyShowIn, desktops)) return false;
  return !namesOneOf(notShowIn, desktops);
}

Result<DesktopEntry> DesktopEntry::parse(std::string_view text, std::string desktopId, std::string path,
                                         std::string_view locale) {
  auto read = platform::readDesktopEntryText(text, locale);
  if (read.failure) return makeError<DesktopEntryError>(DesktopEntryError::malformed(read.failure->line, read.failure->reason));
  const auto& keys = *read.keys;
  DesktopEntry entry;
  entry.desktopId = std::move(desktopId);
  entry.path = std::move(path);
  entry.hidden = isTrue(keys, "Hidden");
  auto type = valueOf(keys, "Type");
  // A Hidden entry only says that the ID is deleted: it needs nothing else.
  if (!type && !entry.hidden) return makeError<DesktopEntryError>(DesktopEntryError::missingKey("Type"));
  entry.type = type.value_or("Application");
  auto name = localizedOf(keys, "Name");
  if (!name && !entry.hidden) return makeError<DesktopEntryError>(DesktopEntryError::missingKey("Name"));
  entry.name = name.value_or("");
  entry.genericName = localizedOf(keys, "GenericName");
  entry.comment = localizedOf(keys, "Comment");
  entry.icon = localizedOf(keys, "Icon");
  entry.exec = valueOf(keys, "Exec");
  entry.tryExec = valueOf(keys, "TryExec");
  entry.startupWMClass = valueOf(keys, "StartupWMClass");
  entry.flatpakId = valueOf(keys, "X-Flatpak");
  entry.snapName = valueOf(keys, "X-SnapInstanceName");
  entry.appImageVersion = valueOf(keys, "X-AppImage-Version");
  entry.noDisplay = isTrue(keys, "NoDisplay");
  entry.terminal = isTrue(keys, "Terminal");
  entry.dbusActivatable = isTrue(keys, "DBusActivatable");
  if (auto list = valueOf(keys, "OnlyShowIn")) entry.onlyShowIn = splitList(*list);
  if (auto list = valueOf(keys, "NotShowIn")) entry.notShowIn = splitList(*list);
  if (auto list = valueOf(keys, "Categories")) entry.categories = splitList(*list);
  if (entry.type == "Application" && !entry.hidden && !entry.exec && !entry.dbusActivatable) {
    return makeError<DesktopEntryError>(DesktopEntryError::missingKey("Exec"));
  }
  if (entry.exec) {
    if (auto arguments = splitExec(*entry.exec)) {
      std::size_t first = 0;
      // "env NAME=value ... program": the program is the first word that is no assignment.
      if (first < arguments->size() && lastComponent((*arguments)[first]) == "env") {
        ++first;
        while (first < arguments->size() &&
               ((*arguments)[first].find('=') != std::string::npos || (*arguments)[first].starts_with("-"))) {
          ++first;
        }
      }
      if (first < arguments->size()) {
        entry.program = (*arguments)[first];
        entry.executableName = lastComponent(*entry.program);
        if (*entry.executableName == "flatpak") {
          entry.executableName.reset();
          for (std::size_t i = first + 1; i < arguments->size(); ++i) {
            if ((*arguments)[i].starts_with("--command=")) entry.executableName = lastComponent((*arguments)[i].substr(10));
          }
        }
        if (entry.executableName && entry.executableName->empty()) entry.executableName.reset();
      }
    }
  }
  return entry;
}

}  // namespace vantelkit
