// Desktop entry files read with GLib's key-file parser, which implements the format's
// groups, escapes and locale fallback; the line at fault is found here, since GLib's own
// messages do not number lines.
#include <glib.h>

#include <cstdlib>
#include <memory>

#include "vantelkit/platform/DesktopEntryFile.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit::platform {

namespace {

constexpr const char* kGroup = "Desktop Entry";
constexpr const char* kLocalizedKeys[] = {"Name", "GenericName", "Comment", "Keywords", "Icon"};

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFilePointer = std::unique_ptr<GKeyFile, KeyFileDeleter>;

struct ErrorHolder {
  GError* error = nullptr;
  ~ErrorHolder() {
    if (error) g_error_free(error);
  }
  std::string message() const { return error && error->message ? error->message : "unreadable key file"; }
};

struct GFreeDeleter {
  void operator()(void* pointer) const { g_free(pointer); }
};
using GString = std::unique_ptr<char, GFreeDeleter>;

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string_view trimmedLeft(std::string_view line) {
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  return line;
}

bool loads(std::string_view text) {
  KeyFilePointer file(g_key_file_new());
  ErrorHolder error;
  return g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_KEEP_TRANSLATIONS, &error.error);
}

// The first line that the parser refuses when read on its own (a key line under a group
// of its own), with a reason; none when every line passes alone.
std::optional<DesktopEntryReadFailure> faultyLine(std::string_view text) {
  const auto lines = splitLines(text);
  bool inGroup = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const std::size_t number = i + 1;
    if (line.find('\0') != std::string_view::npos) return DesktopEntryReadFailure{number, "a NUL byte"};
    if (!g_utf8_validate(line.data(), static_cast<gssize>(line.size()), nullptr)) {
      return DesktopEntryReadFailure{number, "text that is not UTF-8"};
    }
    const std::string_view content = trimmedLeft(line);
    if (content.empty() || content.front() == '#' || content == "\r") continue;
    if (content.front() == '[') {
      if (!loads(std::string(line) + "\n")) return DesktopEntryReadFailure{number, "a malformed group header"};
      inGroup = true;
      continue;
    }
    if (content.find('=') == std::string_view::npos) {
      return DesktopEntryReadFailure{number, "a line that is neither a group, a key, a comment nor blank"};
    }
    if (!inGroup) return DesktopEntryReadFailure{number, "a key before the first group"};
    if (!loads("[G]\n" + std::string(line) + "\n")) return DesktopEntryReadFailure{number, "a malformed key"};
  }
  return std::nullopt;
}

// The line of the "Desktop Entry" group's key, for a value GLib could not unescape.
std::size_t lineOfKey(std::string_view text, std::string_view key) {
  const auto lines = splitLines(text);
  bool inEntry = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view content = trimmedLeft(lines[i]);
    if (!content.empty() && content.front() == '[') {
      inEntry = content.substr(0, 15) == "[Desktop Entry]";
      continue;
    }
    if (!inEntry || content.substr(0, key.size()) != key) continue;
    content.remove_prefix(key.size());
    content = trimmedLeft(content);
    if (!content.empty() && content.front() == '=') return i + 1;
  }
  return 0;
}

}  // namespace

DesktopEntryRead readDesktopEntryText(std::string_view text, std::string_view locale) {
  DesktopEntryRead read;
  if (auto fault = faultyLine(text)) {
    read.failure = std::move(fault);
    return read;
  }
  KeyFilePointer file(g_key_file_new());
  {
    ErrorHolder error;
    if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_KEEP_TRANSLATIONS, &error.error)) {
      read.failure = DesktopEntryReadFailure{0, error.message()};
      return read;
    }
  }
  if (!g_key_file_has_group(file.get(), kGroup)) {
    read.failure = DesktopEntryReadFailure{0, "no [Desktop Entry] group"};
    return read;
  }
  gsize count = 0;
  std::unique_ptr<gchar*, void (*)(gchar**)> keys(g_key_file_get_keys(file.get(), kGroup, &count, nullptr), g_strfreev);
  DesktopEntryKeys entry;
  for (gsize i = 0; keys && i < count; ++i) {
    const std::string key = keys.get()[i];
    if (key.find('[') != std::string::npos) continue;
    ErrorHolder error;
    GString value(g_key_file_get_string(file.get(), kGroup, key.c_str(), &error.error));
    if (!value) {
      read.failure = DesktopEntryReadFailure{lineOfKey(text, key), "the value of " + key + ": " + error.message()};
      return read;
    }
    entry.values[key] = value.get();
  }
  const bool plain = locale.empty() || locale == "C" || locale == "POSIX";
  const std::string localeName(locale);
  for (const char* key : kLocalizedKeys) {
    const auto found = entry.values.find(std::string_view(key));
    if (found == entry.values.end()) continue;
    std::string value = found->second;
    if (!plain) {
      GString localized(g_key_file_get_locale_string(file.get(), kGroup, key, localeName.c_str(), nullptr));
      if (localized) value = localized.get();
    }
    entry.localizedValues[key] = std::move(value);
  }
  read.keys = std::move(entry);
  return read;
}

std::string messagesLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* value = std::getenv(name); value && *value) return value;
  }
  return "C";
}

std::vector<std::string> currentDesktops() {
  std::vector<std::string> desktops;
  if (Paths::environmentIgnored()) return desktops;
  const char* value = std::getenv("XDG_CURRENT_DESKTOP");
  if (!value) return desktops;
  std::string_view rest(value);
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string_view part = rest.substr(0, colon);
    if (!part.empty()) desktops.emplace_back(part);
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return desktops;
}

std::vector<std::string> executableSearchPath() {
  std::vector<std::string> folders;
  const char* value = Paths::environmentIgnored() ? nullptr : std::getenv("PATH");
  if (value) {
    std::string_view rest(value);
    while (!rest.empty()) {
      const std::size_t colon = rest.find(':');
      const std::string_view part = rest.substr(0, colon);
      if (!part.empty() && part.front() == '/') folders.emplace_back(part);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
    if (!folders.empty()) return folders;
  }
  for (const char* folder : {"/usr/local/sbin", "/usr/local/bin", "/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
    folders.push_back(Paths::system(folder));
  }
  return folders;
}

}  // namespace vantelkit::platform
