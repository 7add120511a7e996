// Reading the text of a desktop entry file (the freedesktop key-file format: groups, keys,
// escapes and localized keys) into the keys of its "Desktop Entry" group. What the keys
// mean is the caller's business; this only reads the format.
// Thread safety: free functions without shared state; call them from any thread.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantelkit::platform {

struct DesktopEntryKeys {
  // Every key of the "Desktop Entry" group without a locale, its value unescaped ("\s",
  // "\n", "\t", "\r", "\\" resolved; lists keep their ";" separators).
  std::map<std::string, std::string, std::less<>> values;
  // The keys given in several languages (Name, GenericName, Comment, Keywords, Icon) as
  // the requested locale prefers them: "Name[de_DE]", then "Name[de]", then "Name".
  std::map<std::string, std::string, std::less<>> localizedValues;
  bool operator==(const DesktopEntryKeys&) const = default;
};

struct DesktopEntryReadFailure {
  // The 1-based line that broke the format, or 0 when the failure has no one line (no
  // "Desktop Entry" group at all).
  std::size_t line = 0;
  std::string reason;
  bool operator==(const DesktopEntryReadFailure&) const = default;
};

struct DesktopEntryRead {
  // Exactly one of the two is set.
  std::optional<DesktopEntryKeys> keys;
  std::optional<DesktopEntryReadFailure> failure;
};

// Reads text. locale is a POSIX locale name ("de_DE.UTF-8", "sr_RS@latin"); empty or "C"
// takes the unlocalized values. A text that is not a key file (a line that is neither a
// group, a key, a comment nor blank; text that is not UTF-8; a value with an invalid
// escape) or has no "Desktop Entry" group is refused with the line at fault.
DesktopEntryRead readDesktopEntryText(std::string_view text, std::string_view locale);

// The locale whose messages the user reads: LC_ALL, else LC_MESSAGES, else LANG; "C" when
// none is set.
std::string messagesLocale();

// The desktop names of XDG_CURRENT_DESKTOP (a ":" separated list), in order; empty when the
// variable is unset or the environment is ignored (see Paths::environmentIgnored()).
std::vector<std::string> currentDesktops();

// The folders a program named without a folder is looked for in: PATH's absolute entries in
// order; when PATH is unset or the environment is ignored, "/usr/local/sbin",
// "/usr/local/bin", "/usr/sbin", "/usr/bin", "/sbin", "/bin" through the root override.
std::vector<std::string> executableSearchPath();

}  // namespace vantelkit::platform
