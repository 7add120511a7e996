#include "vantelkit/applications/LinuxApplicationRecord.h"

#include <algorithm>
#include <map>
#include <set>

#include "vantelkit/platform/TextCase.h"

namespace vantelkit {

namespace {

using Key = LinuxStorageEvidence::Key;
using Match = LinuxStorageEvidence::Match;
using Category = LinuxApplicationResource::Category;

// Programs that start other programs: their names say nothing of the application.
const std::set<std::string, std::less<>> kLaunchers{
    "env",  "sh",   "bash",   "dash",     "zsh",    "python", "python2", "python3", "perl", "ruby",
    "java", "mono", "node",   "electron", "gjs",    "wine",   "flatpak", "snap",    "sudo", "pkexec",
    "exo-open", "xdg-open", "gio", "kioclient5", "kstart5", "gtk-launch", "dbus-send", "true",
};

int keyRank(Key key) {
  switch (key) {
    case Key::flatpakId: return 60;
    case Key::snapName: return 60;
    case Key::desktopId: return 50;
    case Key::startupWMClass: return 40;
    case Key::executableName: return 30;
    case Key::reverseDnsLastPart: return 20;
  }
  return 0;
}

int matchRank(Match match) {
  switch (match) {
    case Match::equalIgnoringCase: return 300;
    case Match::equalAfterRemovingSuffix: return 200;
    case Match::contained: return 100;
  }
  return 0;
}

}  // namespace

std::string_view LinuxStorageEvidence::keyName(Key key) {
  switch (key) {
    case Key::desktopId: return "desktopId";
    case Key::startupWMClass: return "StartupWMClass";
    case Key::executableName: return "executable";
    case Key::flatpakId: return "X-Flatpak";
    case Key::snapName: return "X-SnapInstanceName";
    case Key::reverseDnsLastPart: return "reverseDnsLastPart";
  }
  return "desktopId";
}

std::string_view LinuxStorageEvidence::matchName(Match match) {
  switch (match) {
    case Match::equalIgnoringCase: return "equalIgnoringCase";
    case Match::equalAfterRemovingSuffix: return "equalAfterRemovingSuffix";
    case Match::contained: return "contained";
  }
  return "equalIgnoringCase";
}

int LinuxStorageEvidence::strength() const { return matchRank(match) + keyRank(key); }

const std::vector<std::string_view>& LinuxStorageMatcher::knownSuffixes() {
  static const std::vector<std::string_view> suffixes{
      ".conf", ".ini", ".json", ".xml", ".cfg", ".toml", ".yaml", ".db", ".sqlite", ".log", ".desktop", "rc",
      "-desktop", "-stable", "-beta", "-nightly", "-dev", "-bin", "-git", "-gtk", "-qt", "-launcher",
  };
  return suffixes;
}

LinuxStorageMatcher::LinuxStorageMatcher(const std::vector<LinuxApplication>& applications) {
  for (std::size_t i = 0; i < applications.size(); ++i) {
    const DesktopEntry& entry = applications[i].entry;
    _desktopIds.push_back(entry.desktopId);
    auto add = [&](Key key, const std::optional<std::string>& value) {
      if (!value || value->size() < 3) return;
      if (key == Key::executableName && kLaunchers.contains(*value)) return;
      _keys.push_back({i, key, *value, platform::lowercased(*value)});
    };
    std::string stem = entry.desktopId;
    if (stem.ends_with(".desktop")) stem.resize(stem.size() - 8);
    add(Key::desktopId, stem);
    add(Key::flatpakId, entry.flatpakId);
    add(Key::snapName, entry.snapName);
    add(Key::startupWMClass, entry.startupWMClass);
    add(Key::executableName, entry.executableName);
    // org.example.Editor: "Editor" names the application where the whole ID does not.
    for (const auto& id : {std::optional<std::string>(stem), entry.flatpakId}) {
      if (!id || std::count(id->begin(), id->end(), '.') < 2) continue;
      add(Key::reverseDnsLastPart, id->substr(id->rfind('.') + 1));
    }
  }
}

std::vector<LinuxStorageMatcher::Candidate> LinuxStorageMatcher::matches(std::string_view name) const {
  if (name.starts_with(".")) name.remove_prefix(1);
  const std::string lowered = platform::lowercased(name);
  std::map<std::size_t, LinuxStorageEvidence> best;
  for (const auto& key : _keys) {
    LinuxStorageEvidence evidence{key.key, key.value, Match::equalIgnoringCase, {}};
    bool found = lowered == key.lowered;
    if (!found) {
      for (std::string_view suffix : knownSuffixes()) {
        const bool fromName = lowered.size() > suffix.size() && lowered.ends_with(suffix) &&
                              std::string_view(lowered).substr(0, lowered.size() - suffix.size()) == key.lowered;
        const bool fromKey = key.lowered.size() > suffix.size() && key.lowered.ends_with(suffix) &&
                             std::string_view(key.lowered).substr(0, key.lowered.size() - suffix.size()) == lowered;
        if (fromName || fromKey) {
          evidence.match = Match::equalAfterRemovingSuffix;
          evidence.removedSuffix = std::string(suffix);
          found = true;
          break;
        }
      }
    }
    if (!found && key.lowered.size() >= 4 && lowered.find(key.lowered) != std::string::npos) {
      evidence.match = Match::contained;
      found = true;
    }
    if (!found) continue;
    auto [at, inserted] = best.try_emplace(key.application, evidence);
    if (!inserted && evidence.strength() > at->second.strength()) at->second = evidence;
  }
  std::vector<Candidate> candidates;
  for (auto& [application, evidence] : best) candidates.push_back({application, std::move(evidence)});
  std::sort(candidates.begin(), candidates.end(), [this](const Candidate& a, const Candidate& b) {
    if (a.evidence.strength() != b.evidence.strength()) return a.evidence.strength() > b.evidence.strength();
    return _desktopIds[a.application] < _desktopIds[b.application];
  });
  return candidates;
}

std::string_view LinuxApplicationResource::categoryName(Category category) {
  switch (category) {
    case Category::config: return "config";
    case Category::cache: return "cache";
    case Category::data: return "data";
    case Category::state: return "state";
    case Category::autostart: return "autostart";
    case Category::flatpakCache: return "flatpakCache";
    case Category::flatpakConfig: return "flatpakConfig";
    case Category::flatpakData: return "flatpakData";
    case Category::snapData: return "snapData";
    case Category::homeFolder: return "homeFolder";
  }
  return "config";
}

std::string_view LinuxLeftover::reasonName(Reason reason) {
  switch (reason) {
    case Reason::noInstalledFlatpak: return "noInstalledFlatpak";
    case Reason::noInstalledSnap: return "noInstalledSnap";
    case Reason::matchesNoApplication: return "matchesNoApplication";
    case Reason::brokenEntry: return "brokenEntry";
    case Reason::brokenAutostartEntry: return "brokenAutostartEntry";
    case Reason::malformedEntry: return "malformedEntry";
  }
  return "matchesNoApplication";
}

std::int64_t LinuxApplicationRecord::totalSize() const {
  std::int64_t total = applicationSize.value_or(0);
  for (const auto& resource : resources) total += resource.size.value_or(0);
  return total;
}

bool isKeptStorage(Category category, std::string_view name) {
  // The desktop's own folders and files, compared ignoring case.
  static const std::set<std::string, std::less<>> config{
      // the XDG files and folders of the desktop itself
      "autostart", "user-dirs.dirs", "user-dirs.locale", "mimeapps.list", "menus", "environment.d", "systemd",
      "fontconfig", "fonts", "mime",
      // the toolkits' and the desktop environments' own settings
      "dconf", "gtk-2.0", "gtk-3.0", "gtk-4.0", "gnome-session", "ibus", "pulse", "xsettingsd", "kdeglobals",
      "kdedefaults", "plasma-org.kde.plasma.desktop-appletsrc", "xfce4", "lxsession", "lxqt", "mate", "cinnamon",
      "monitors.xml", "qt5ct", "qt6ct", "trolltech.conf", "qtproject.conf", "enchant", "keyrings"};
  static const std::set<std::string, std::less<>> cache{"thumbnails", "fontconfig", "mesa_shader_cache", "ibus",
                                                        "dconf", "sessions", "gnome-desktop-thumbnailer", "gnome-shell", "mime",
                                                        "flatpak", "icon-cache.kcache", "ksycoca5", "ksycoca6"};
  static const std::set<std::string, std::less<>> data{
      "applications", "autostart", "flatpak", "mime", "fonts", "icons", "themes", "trash", "keyrings",
      "recently-used.xbel", "gvfs-metadata", "desktop-directories", "sounds", "backgrounds", "gnome-shell",
      "sessions", "xorg", "snap", "dbus-1", "systemd", "gnome-settings-daemon", "kservices5", "kxmlgui5",
      "user-places.xbel"};
  static const std::set<std::string, std::less<>> state{"wireplumber", "pipewire", "xorg", "gnome-session",
                                                        "systemd", "lesshst"};
  static const std::set<std::string, std::less<>> home{
      // the XDG base folders and the folders of Flatpak and Snap data, which are read
      // application by application
      ".config", ".cache", ".local", ".var", "snap",
      // keys and secrets
      ".ssh", ".gnupg", ".pki", ".password-store",
      // the desktop's own
      ".icons", ".fonts", ".themes", ".dbus", ".gvfs", ".trash", ".gnome", ".gconf", ".kde", ".kde4", ".xfce4",
      ".compiz", ".dmrc", ".xsession-errors", ".ICEauthority", ".Xauthority", ".pulse", ".nv", ".terminfo"};
  const std::string lowered = platform::lowercased(name);
  switch (category) {
    case Category::config: return config.contains(lowered);
    case Category::cache: return cache.contains(lowered);
    case Category::data: return data.contains(lowered);
    case Category::state: return state.contains(lowered);
    case Category::homeFolder: return home.contains(lowered) || home.contains(std::string(name));
    case Category::autostart:
    case Category::flatpakCache:
    case Category::flatpakConfig:
    case Category::flatpakData:
    case Category::snapData: return false;
  }
  return false;
}

}  // namespace vantelkit
