// One desktop entry: the keys of a ".desktop" file that tell what an application is, how it
// is started and where a menu shows it, read from the file's text.
// Thread safety: a value type; parse() is a pure function, safe from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/foundation/Result.h"

namespace vantelkit {

// Why a desktop entry file was refused.
class DesktopEntryError final : public Error {
 public:
  enum class Case {
    malformed,   // not a key file; line() tells where, 0 when no one line is at fault
    missingKey,  // a required key (Type, Name, Exec) is absent; key() names it
  };
  static DesktopEntryError malformed(std::size_t line, std::string reason) {
    return DesktopEntryError(Case::malformed, line, std::move(reason));
  }
  static DesktopEntryError missingKey(std::string key) { return DesktopEntryError(Case::missingKey, 0, std::move(key)); }

  Case kind() const { return _case; }
  std::size_t line() const { return _line; }
  // The format fault of a malformed file, or the name of the missing key.
  const std::string& detail() const { return _detail; }
  std::string typeName() const override { return "DesktopEntryError"; }
  // "malformed" or "missingKey".
  std::string description() const override;
  // "line 3: a malformed key", "no Name key".
  std::string localizedDescription() const override;
  bool operator==(const DesktopEntryError& other) const {
    return _case == other._case && _line == other._line && _detail == other._detail;
  }

 private:
  DesktopEntryError(Case kind, std::size_t line, std::string detail) : _case(kind), _line(line), _detail(std::move(detail)) {}
  Case _case;
  std::size_t _line;
  std::string _detail;
};

struct DesktopEntry {
  // The desktop file ID: the path below the "applications" folder with "/" turned into "-"
  // ("org.example.Editor.desktop", "kde-okular.desktop").
  std::string desktopId;
  // Where the file was read.
  std::string path;
  // "Application", "Link" or "Directory".
  std::string type;
  // Name, GenericName and Comment in the locale asked for.
  std::string name;
  std::optional<std::string> genericName;
  std::optional<std::string> comment;
  // A theme icon name or an absolute file.
  std::optional<std::string> icon;
  std::optional<std::string> exec;
  std::optional<std::string> tryExec;
  // The program Exec starts, as written (after "env" and its assignments); none without Exec
  // or when Exec cannot be split into arguments.
  std::optional<std::string> program;
  // The last component of program, or for "flatpak run" the --command given.
  std::optional<std::string> executableName;
  std::optional<std::string> startupWMClass;
  // X-Flatpak: the Flatpak application ID; X-SnapInstanceName: the Snap's name.
  std::optional<std::string> flatpakId;
  std::optional<std::string> snapName;
  // X-AppImage-Version, when an AppImage's integration wrote one.
  std::optional<std::string> appImageVersion;
  bool noDisplay = false;
  bool hidden = false;
  bool terminal = false;
  bool dbusActivatable = false;
  std::vector<std::string> onlyShowIn;
  std::vector<std::string> notShowIn;
  std::vector<std::string> categories;

  bool operator==(const DesktopEntry&) const = default;

  // Reads a desktop entry file's text. Refused with DesktopEntryError: text that is not a
  // key file (with the line at fault), no Type or Name, an Application with neither Exec nor
  // DBusActivatable=true.
  static Result<DesktopEntry> parse(std::string_view text, std::string desktopId, std::string path,
                                    std::string_view locale);

  // The desktop file ID of a file at relativePath below an "applications" folder.
  static std::string desktopIdFor(std::string_view relativePath);

  // Whether a menu on the given desktops (XDG_CURRENT_DESKTOP's names, compared ignoring
  // case) shows the entry: not NoDisplay, not Hidden, and OnlyShowIn naming one of them
  // (when it is set) while NotShowIn names none. With no desktop known, an entry limited by
  // OnlyShowIn is not shown.
  bool isShown(const std::vector<std::string>& desktops) const;

  // The arguments of an Exec value, quoted as desktop entry files quote them (double quotes, inside
  // which a backslash escapes a quote, backquote, dollar or backslash; field codes kept);
  // none for an unterminated quote.
  static std::optional<std::vector<std::string>> splitExec(std::string_view exec);
};

}  // namespace vantelkit
