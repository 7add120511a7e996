// The applications installed on a Linux desktop, as its menus know them: the desktop entries
// of the "applications" folders of $XDG_DATA_HOME and $XDG_DATA_DIRS (and of Flatpak's and
// Snap's export folders, read even where XDG_DATA_DIRS does not name them), the first entry
// of each desktop file ID winning, each application with its kind.
// Thread safety: load() is safe from any thread (it reads the root and home overrides of
// platform::Paths); a loaded catalog is an immutable value.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "vantelkit/applications/DesktopEntry.h"

namespace vantelkit {

struct LinuxApplication {
  enum class Kind { systemPackage, flatpak, snap, appImage, userEntry };
  // "systemPackage", "flatpak", "snap", "appImage", "userEntry".
  static std::string_view kindName(Kind kind);

  DesktopEntry entry;
  Kind kind = Kind::systemPackage;
  // The data folder whose "applications" folder held the entry ("/usr/share").
  std::string dataDirectory;
  // Whether a menu on the current desktop shows it (DesktopEntry::isShown); an entry that
  // is not shown is still installed, and still owns its files.
  bool shown = true;
  // Why it cannot start, when it cannot: "TryExec program not found: ...", "Exec program not
  // found: ...". Such an entry is a leftover, not an application.
  std::optional<std::string> broken;

  bool operator==(const LinuxApplication&) const = default;
};

// A desktop entry file that could not be used.
struct RefusedDesktopEntry {
  std::string path;
  std::string desktopId;
  // DesktopEntryError's text ("line 3: a malformed key"), or why the file could not be read.
  std::string reason;
  // The line at fault; 0 when no one line is.
  std::size_t line = 0;
  bool operator==(const RefusedDesktopEntry&) const = default;
};

class LinuxApplicationCatalog {
 public:
  struct Options {
    // The desktops menus are made for; none: platform::currentDesktops().
    std::optional<std::vector<std::string>> desktops;
    // The locale of names; none: platform::messagesLocale().
    std::optional<std::string> locale;
    // The data folders in precedence order; none: dataDirectories().
    std::optional<std::vector<std::string>> dataDirectories;
  };

  // $XDG_DATA_HOME, then $XDG_DATA_DIRS in order, then those of $XDG_DATA_HOME +
  // "/flatpak/exports/share", "/var/lib/flatpak/exports/share" and "/var/lib/snapd/desktop"
  // (the last two through the root override) that were not named yet; each folder once.
  static std::vector<std::string> dataDirectories();

  // Why entry cannot start, when it cannot: its TryExec program, or its Exec program, is not
  // there (a name looked up in platform::executableSearchPath(), an absolute path below the
  // root override unless it lies in the home), or Exec cannot be split into arguments.
  static std::optional<std::string> brokenReason(const DesktopEntry& entry);

  // Reads every "applications" folder of the data folders, recursively, never following a
  // link to a folder. A folder that cannot be listed is kept in unreadable(); a file that
  // cannot be used in refused(); neither stops the reading.
  static LinuxApplicationCatalog load(const Options& options);
  static LinuxApplicationCatalog load() { return load(Options{}); }

  // Every installed application (the winning entry of each desktop file ID, of Type
  // Application, not Hidden), shown or not, broken or not, sorted by desktop file ID.
  const std::vector<LinuxApplication>& applications() const { return _applications; }
  // The application of a desktop file ID, or null.
  const LinuxApplication* find(std::string_view desktopId) const;
  // Refused files, sorted by path.
  const std::vector<RefusedDesktopEntry>& refused() const { return _refused; }
  struct UnreadableFolder {
    std::string path;
    std::error_code error;
    bool operator==(const UnreadableFolder&) const = default;
  };
  const std::vector<UnreadableFolder>& unreadable() const { return _unreadable; }
  // The data folders that were read, in precedence order.
  const std::vector<std::string>& directories() const { return _directories; }
  // The desktops the shown flags were computed for.
  const std::vector<std::string>& desktops() const { return _desktops; }

 private:
  std::vector<LinuxApplication> _applications;
  std::vector<RefusedDesktopEntry> _refused;
  std::vector<UnreadableFolder> _unreadable;
  std::vector<std::string> _directories;
  std::vector<std::string> _desktops;
};

}  // namespace vantelkit
