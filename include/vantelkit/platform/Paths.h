// Where the library looks on disk: the process-wide root and home overrides that point it at
// a prepared layout instead of the real system, and the two layouts a scan can look for.
// The document layout's paths ("/Library/Logs", home + "/Library", "/Applications") and the
// Linux desktop's (the XDG base folders with their specified defaults, the user folders of
// user-dirs.dirs) are resolved through here.
// Thread safety: set the overrides before concurrent use; the getters are safe from any thread
// once set. The XDG getters read the process environment, which must not change meanwhile.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantelkit::platform {

class Paths {
 public:
  Paths() = delete;

  // A folder prepended to every system path ("/Library/Logs" becomes root + "/Library/Logs").
  // None (the default) uses the paths as they are.
  static void setRootOverride(std::optional<std::string> root);
  static std::optional<std::string> rootOverride();
  // The user's home folder to use instead of the real one. None (the default) uses the
  // platform's home folder.
  static void setHomeOverride(std::optional<std::string> home);
  static std::optional<std::string> homeOverride();

  // The home folder, without a trailing "/".
  static std::string home();
  // An absolute system path with the root override applied.
  static std::string system(std::string_view absolutePath);
  // A path below the home folder: home() + "/" + relative.
  static std::string inHome(std::string_view relative);

  // The folders a scan looks in. `document` is the layout of the document's system (a
  // "Library" folder in the home and at the root, "/Applications"); `xdg` is a Linux
  // desktop's (the XDG base folders, desktop entries, the trash, /var/log, package caches).
  enum class Layout { document, xdg };
  // "document" or "xdg".
  static std::string_view layoutName(Layout layout);
  // Accepts "document" and "xdg"; none for anything else.
  static std::optional<Layout> parseLayout(std::string_view name);
  // The automatic choice: `document` when the home holds a "Library" folder with at least
  // one of "Caches", "Application Support", "Logs" or "Preferences" in it, or the root holds
  // "/Library/Logs" or "/Applications" while the home has no ".config", ".cache" or
  // ".local"; `xdg` otherwise.
  static Layout automaticLayout();

  // True when the environment's HOME and XDG_* variables are ignored: whenever a root or a
  // home override is set, so that a prepared home is self-contained.
  static bool environmentIgnored();
  // The XDG base folders: the variable when it is set to an absolute path and the
  // environment is not ignored, else the specified default below home() (".cache",
  // ".config", ".local/share", ".local/state").
  static std::string xdgCacheHome();
  static std::string xdgConfigHome();
  static std::string xdgDataHome();
  static std::string xdgStateHome();
  // XDG_DATA_DIRS and XDG_CONFIG_DIRS in their order of precedence, relative entries
  // dropped; the defaults ("/usr/local/share", "/usr/share"; "/etc/xdg") with the root
  // override applied when the variable is unset, empty or ignored.
  static std::vector<std::string> xdgDataDirs();
  static std::vector<std::string> xdgConfigDirs();

  // The user folders of $XDG_CONFIG_HOME/user-dirs.dirs.
  enum class UserDirectory { desktop, download, templates, publicShare, documents, music, pictures, videos };
  // The folder as user-dirs.dirs names it; its default (home + "/Downloads" and so on) when
  // the file or the line is missing or unusable. A folder set to the home itself is the home.
  static std::string userDirectory(UserDirectory directory);
  // The parser behind userDirectory: the XDG_*_DIR lines of a user-dirs.dirs text, keyed by
  // variable name ("XDG_DOWNLOAD_DIR"), with "$HOME" expanded to home. Lines that are not of
  // the form NAME="$HOME/path" or NAME="/path" are skipped; the last line for a name wins.
  static std::map<std::string, std::string> parseUserDirs(std::string_view text, std::string_view home);
};

}  // namespace vantelkit::platform
