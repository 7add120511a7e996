// The folder groups of a clean scan on a Linux desktop (the xdg layout), from one walk of the
// home: the top level of the download folder, the user caches, the user logs, the developer
// files and the mail clients' attachment caches, plus the distribution package caches below
// the root. Every item carries a short reason. The walk's map also answers the home-wide
// metadata queries of the scan (see mapIndex()), so that the home is walked once.
//
// What each group takes, in this order; what one takes, the later ones leave alone, so a
// file is in one group at most:
//  - kept, never listed: $XDG_CACHE_HOME/thumbnails, ~/.thumbnails and $XDG_DATA_HOME/Trash
//    (ThumbnailScanProcedure and TrashScanProcedure list them), and the caches a running desktop holds open or rebuilds at once
//    (keptCacheNames()): shader caches (mesa, nvidia, Qt) that the GPU driver refills while
//    windows draw, the shell's and the compositor's caches (gnome-shell, kwin, plasmashell,
//    ksycoca, the KDE icon cache), and the state of running services (dconf, ibus, at-spi,
//    gnome-keyring's sockets, xdg-desktop-portal, the tracker3 file index). fontconfig's
//    cache is listed: it is rebuilt quietly when missing.
//  - mail attachments: Geary's attachment folders ($XDG_DATA_HOME/geary/<account>/attachments,
//    a container per account holding each file) and Evolution's cache of downloaded mail
//    ($XDG_CACHE_HOME/evolution/mail/<account>). Thunderbird keeps attachments inside its
//    message files and nothing on the side, so it has none to list.
//  - developer files: the package managers' caches (pip, npm, Cargo's registry, the Go build
//    cache, Gradle, Maven, ccache), then the build folders anywhere in the home (node_modules,
//    a Rust target folder next to Cargo.toml, __pycache__, a virtual environment holding
//    pyvenv.cfg), outermost only, outside hidden folders (where installed tools keep theirs:
//    ~/.nvm, ~/.vscode/extensions, ~/.local/share/pipx), ~/snap and the XDG folders, and only
//    when nothing inside was modified within Settings::buildFolderIdleDays (the walk reads the
//    times); a folder whose inside cannot be read completely is left out, since its activity
//    is not known.
//  - user caches: each entry of $XDG_CACHE_HOME, tied to an installed application when its
//    name equals (ignoring letter case) the application's Flatpak ID, desktop ID, Snap name,
//    executable, window class or name, in that order; each Flatpak application's ~/.var/app/<id>/cache; each Snap's
//    ~/snap/<name>/<revision>/.cache and ~/snap/<name>/common/.cache; and the Chromium-style
//    caches (Cache, Code Cache, GPUCache) of $XDG_CONFIG_HOME/<App> and <App>/<profile>.
//  - user logs: "*.log" files and "logs" folders below $XDG_STATE_HOME and below each folder
//    of $XDG_DATA_HOME, and the X session error logs in the home (~/.x*-errors and .old).
//  - downloads: the regular files at the top of the download folder of user-dirs.dirs;
//    ".part", ".crdownload" and ".download" files are unfinished downloads; installer
//    packages and disk images there go to their own groups.
//  - installer packages below the root, sized read-only: the package caches of apt, dnf and
//    pacman, leftover Flatpak download caches (/var/tmp/flatpak-cache-*), and the Flatpak
//    runtimes (platform::FlatpakInstallations) that no installed application runs on, apart
//    from extensions of a runtime or an application in use (GL drivers, locales, codecs) and
//    GTK themes, which applications load without naming them.
//
// Sizes are the sums of the regular files below an item (logical; bytes allocated on disk
// when measuring usage). Links are never followed; network file systems and removable media
// mounted inside a walked folder are not walked. What cannot be read is in unreadable(); an
// item holding it is sized without it. The procedure reads only and never fails.
// Thread safety: as Procedure; read the output and unreadable() once it has finished.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/clean/CleanScanItem.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/foundation/Procedure.h"
#include "vantelkit/metadata/MetadataIndex.h"
#include "vantelkit/scanning/DiskMap.h"
#include "vantelkit/scanning/DiskScanResult.h"

namespace vantelkit {

class DiskScanner;

// What XdgHomeScanProcedure found, by group.
struct XdgHomeScan {
  CleanScanItemSet downloads;
  CleanScanItemSet packages;
  CleanScanItemSet diskImages;
  CleanScanItemSet userCache;
  CleanScanItemSet userLogs;
  CleanScanItemSet developer;
  CleanScanItemSet mailAttachments;
};

class XdgHomeScanProcedure : public Procedure, public OutputProcedure<XdgHomeScan> {
 public:
  // An installed application, as far as cache folders are matched against it. Empty fields
  // match nothing.
  struct Application {
    std::string name;        // "Firefox"
    std::string desktopId;   // "org.mozilla.firefox.desktop"
    std::string flatpakId;   // "org.mozilla.firefox"
    std::string snapName;    // "firefox"
    std::string executable;  // "firefox" (the file name of the command)
    std::string windowClass;  // StartupWMClass: "Navigator"
    bool operator==(const Application&) const = default;
  };

  // The applications of the desktop's menus (LinuxApplicationCatalog), each once.
  static std::vector<Application> installedApplications();

  struct Settings {
    // None: installedApplications(), read when the scan runs.
    std::optional<std::vector<Application>> applications;
    // Build folders count only when nothing inside changed for this many days.
    int buildFolderIdleDays = 30;
    // Sizes are the bytes allocated on disk instead of logical sizes.
    bool measuresUsage = false;
    // The present, in seconds since 1970-01-01T00:00:00Z, for the activity guard; none: the
    // clock's.
    std::optional<std::int64_t> now;
  };

  explicit XdgHomeScanProcedure(Settings settings);
  ~XdgHomeScanProcedure() override;

  // The reason of a cache folder tied to application by the name that matched:
  // "cache of Firefox (org.mozilla.firefox)". None when no field of application matches
  // name.
  static std::optional<std::string> cacheReason(std::string_view name, const Application& application);
  // The cache names kept out of the user caches (see the type's comment). A name ending in
  // "*" stands for every name starting with what comes before it.
  static const std::vector<std::string_view>& keptCacheNames();
  // The reason of a file at the top of the download folder and the group it goes to.
  enum class DownloadKind { download, unfinished, package, diskImage };
  static DownloadKind downloadKind(std::string_view fileName);
  // "installer package", "disk image", ... for a file name ending like an installer or a
  // disk image; none for others. Case is ignored.
  static std::optional<std::string> installerReason(std::string_view fileName);
  static std::optional<std::string> diskImageReason(std::string_view fileName);

  // The index that answers metadata queries over the home from this procedure's walk, once
  // it has finished; before, and for other scopes, it hands queries to
  // MetadataIndex::shared(). The index keeps the walk until it is released.
  std::shared_ptr<MetadataIndex> mapIndex() const { return _index; }

  using Unreadable = std::vector<DiskScanResult::UnreadableEntry>;
  // Sorted by path, each once.
  Unreadable unreadable() const;

  // The folders one run has walked (defined with the procedure).
  class Walks;

 protected:
  void execute() override;
  void procedureDidCancel(const ErrorPtr& error) override;

 private:
  const Settings _settings;
  const std::shared_ptr<MetadataIndex> _index;
  mutable std::mutex _mutex;
  // Guarded by _mutex:
  std::shared_ptr<DiskScanner> _scanner;  // the walk under way
  Unreadable _unreadable;
  std::atomic<bool> _cancelled{false};
};

}  // namespace vantelkit
