// What the Linux application inventory says of one application, of what it keeps on the
// disk and of what no application owns: the records, the evidence that ties a folder to an
// application, and the matcher that finds that evidence in a folder's name.
// Thread safety: value types; LinuxStorageMatcher is immutable once made and safe to use
// from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/applications/LinuxApplicationCatalog.h"

namespace vantelkit {

// Why a folder belongs to an application: which key of its desktop entry matched the
// folder's name, and how.
struct LinuxStorageEvidence {
  enum class Key { desktopId, startupWMClass, executableName, flatpakId, snapName, reverseDnsLastPart };
  enum class Match { equalIgnoringCase, equalAfterRemovingSuffix, contained };
  // "desktopId", "StartupWMClass", "executable", "X-Flatpak", "X-SnapInstanceName",
  // "reverseDnsLastPart".
  static std::string_view keyName(Key key);
  // "equalIgnoringCase", "equalAfterRemovingSuffix", "contained".
  static std::string_view matchName(Match match);

  Key key = Key::desktopId;
  // The key's value as the entry spells it (the desktop file ID without ".desktop").
  std::string value;
  Match match = Match::equalIgnoringCase;
  // The suffix removed (from the folder's name or the key's value) for
  // equalAfterRemovingSuffix.
  std::string removedSuffix;

  // Larger is stronger: an equal name over a suffix over a containment, then the key
  // (a Flatpak ID or Snap name, the desktop file ID, StartupWMClass, the executable, the
  // reverse-DNS ID's last part).
  int strength() const;
  bool operator==(const LinuxStorageEvidence&) const = default;
};

// Finds the applications whose desktop entries name a folder. Keys shorter than three
// characters, and executables that are interpreters or launchers ("sh", "python3", "env",
// "flatpak", ...), are never used; containment needs a key of at least four characters.
class LinuxStorageMatcher {
 public:
  explicit LinuxStorageMatcher(const std::vector<LinuxApplication>& applications);

  struct Candidate {
    // Index into the applications given.
    std::size_t application = 0;
    LinuxStorageEvidence evidence;
    bool operator==(const Candidate&) const = default;
  };
  // Every application that name could belong to, each once with its strongest evidence,
  // strongest first (ties by desktop file ID). A leading "." of name is ignored.
  std::vector<Candidate> matches(std::string_view name) const;

  // The suffixes removed for equalAfterRemovingSuffix, from a name or a key.
  static const std::vector<std::string_view>& knownSuffixes();

 private:
  struct KeyValue {
    std::size_t application;
    LinuxStorageEvidence::Key key;
    std::string value;    // as spelled
    std::string lowered;  // for comparing
  };
  std::vector<KeyValue> _keys;
  std::vector<std::string> _desktopIds;
};

struct LinuxApplicationResource {
  enum class Category { config, cache, data, state, autostart, flatpakCache, flatpakConfig, flatpakData, snapData, homeFolder };
  // "config", "cache", "data", "state", "autostart", "flatpakCache", "flatpakConfig",
  // "flatpakData", "snapData", "homeFolder".
  static std::string_view categoryName(Category category);

  Category category = Category::config;
  std::string path;
  bool isDirectory = true;
  // Bytes of the regular files in it (its own size for a file); none when it could not be
  // read at all.
  std::optional<std::int64_t> size;
  // What could not be read in it ("Permission denied"), when something could not.
  std::optional<std::string> error;
  LinuxStorageEvidence evidence;
  // The desktop file IDs of other applications that could own it too, by weaker (or equal,
  // later-sorted) evidence.
  std::vector<std::string> otherCandidates;
  bool operator==(const LinuxApplicationResource&) const = default;
};

struct LinuxLeftover {
  enum class Reason {
    noInstalledFlatpak,     // ~/.var/app/<id> with no installed Flatpak of that ID
    noInstalledSnap,        // ~/snap/<name> with no installed Snap of that name
    matchesNoApplication,   // a folder whose name matches no installed application's entry
    brokenEntry,            // a desktop entry whose Exec or TryExec program is not there
    brokenAutostartEntry,   // the same, of an autostart entry
    malformedEntry,         // a desktop or autostart entry file that cannot be read as one
  };
  // "noInstalledFlatpak", "noInstalledSnap", "matchesNoApplication", "brokenEntry",
  // "brokenAutostartEntry", "malformedEntry".
  static std::string_view reasonName(Reason reason);

  Reason reason = Reason::matchesNoApplication;
  std::string path;
  // Where it lies, for storage; none for a desktop entry outside the autostart folder.
  std::optional<LinuxApplicationResource::Category> category;
  bool isDirectory = true;
  // The reason in words ("no installed Flatpak has the ID org.example.Old").
  std::string detail;
  std::optional<std::int64_t> size;
  std::optional<std::string> error;
  bool operator==(const LinuxLeftover&) const = default;
};

struct LinuxApplicationRecord {
  LinuxApplication application;
  // The version its package manager records (dpkg, Flatpak, Snap) or its AppImage entry
  // announces, and which of them said so ("dpkg", "flatpak", "snap", "appImage").
  std::optional<std::string> version;
  std::optional<std::string> versionSource;
  // The dpkg package, the Flatpak ref or the Snap's name.
  std::optional<std::string> package;
  // A Flatpak's runtime ("org.freedesktop.Platform/x86_64/23.08").
  std::optional<std::string> runtime;
  // The icon's file, through the icon theme (or the entry's absolute Icon).
  std::optional<std::string> iconPath;
  // The size of the application itself: its package's installed size, the Flatpak's, the
  // AppImage file's.
  std::optional<std::int64_t> applicationSize;
  // Sorted by category, then path.
  std::vector<LinuxApplicationResource> resources;

  // The application and every resource whose size is known.
  std::int64_t totalSize() const;
  bool operator==(const LinuxApplicationRecord&) const = default;
};

// The names in each storage location that belong to the desktop itself and are never a
// leftover (nor attributed): see the definition for the whole list.
bool isKeptStorage(LinuxApplicationResource::Category category, std::string_view name);

}  // namespace vantelkit
