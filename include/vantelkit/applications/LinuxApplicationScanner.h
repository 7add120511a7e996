// The driver of the application inventory on a Linux desktop: from one start() it reads the
// installed applications' desktop entries, their versions (dpkg's status file, the Flatpak
// installations, the Snaps' metadata) and icons, lists what lies in the storage locations
// ($XDG_CONFIG_HOME, $XDG_CACHE_HOME, $XDG_DATA_HOME, $XDG_STATE_HOME, autostart entries,
// ~/.var/app, ~/snap and the home's dot-folders), attributes each folder to the application
// its evidence names, keeps what no application owns as leftovers, and measures everything.
// Its listeners hear of the start, the progress and the end on the main queue, as those of
// ApplicationScanner do. Nothing is written, no link is followed.
// Thread safety: every public member is safe to call from any thread; listener callbacks
// run on the main queue, which the host drains. Read the results once scanDidFinish() has
// been delivered.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "vantelkit/applications/ApplicationScanner.h"
#include "vantelkit/applications/LinuxApplicationRecord.h"
#include "vantelkit/foundation/ListenerRegistry.h"
#include "vantelkit/scanning/DiskScanResult.h"

namespace vantelkit {

class DiskScanner;

class LinuxApplicationScanner : public std::enable_shared_from_this<LinuxApplicationScanner> {
 public:
  static std::shared_ptr<LinuxApplicationScanner> make();

  // The desktops and the locale of the next start(); none takes the environment's (see
  // LinuxApplicationCatalog::Options).
  void setCatalogOptions(LinuxApplicationCatalog::Options options);

  // Begins a scan and returns at once. While a scan runs, a second call only logs the
  // warning "Linux Application Scanner is already running".
  void start();
  // Stops the scan under way: the measuring ends early, the scan ends as usual (isRunning()
  // false, scanDidFinish() heard) with what it found so far. Does nothing when no scan runs.
  void cancel();
  bool wasCancelled() const;
  bool isRunning() const { return _isRunning.load(); }

  // The applications a menu shows (not broken), sorted by name, then desktop file ID.
  std::vector<LinuxApplicationRecord> applications() const;
  // What no application owns and the broken or unreadable entries, sorted by path.
  std::vector<LinuxLeftover> leftovers() const;
  // What the scan could not read, sorted by path, each path once: storage locations and
  // application folders it could not list, and what it could not read while measuring.
  using Unreadable = std::vector<DiskScanResult::UnreadableEntry>;
  Unreadable unreadable() const;
  // The catalog the last scan read (refused entry files included).
  std::optional<LinuxApplicationCatalog> catalog() const;

  void addListener(std::shared_ptr<ApplicationScannerListener> listener) { _listeners.add(std::move(listener)); }
  void removeListener(const std::shared_ptr<ApplicationScannerListener>& listener) { _listeners.remove(listener); }

  // Use make(); public for std::make_shared.
  struct Key {
   private:
    Key() = default;
    friend class LinuxApplicationScanner;
  };
  explicit LinuxApplicationScanner(Key) {}
  LinuxApplicationScanner(const LinuxApplicationScanner&) = delete;
  LinuxApplicationScanner& operator=(const LinuxApplicationScanner&) = delete;

 private:
  struct Run;
  void run();
  void progress(double value, const std::string& message);
  // Measures path with the scanning engine; none when it could not be read at all.
  std::optional<std::int64_t> measure(const std::string& path, bool isDirectory, std::optional<std::string>& error,
                                      Unreadable& unreadable);

  std::atomic<bool> _isRunning{false};
  std::atomic<bool> _cancelled{false};
  ListenerRegistry<ApplicationScannerListener> _listeners;
  mutable std::mutex _mutex;
  // Guarded by _mutex:
  LinuxApplicationCatalog::Options _options;
  std::vector<LinuxApplicationRecord> _applications;
  std::vector<LinuxLeftover> _leftovers;
  Unreadable _unreadable;
  std::optional<LinuxApplicationCatalog> _catalog;
  std::shared_ptr<DiskScanner> _diskScanner;  // the measurement under way
};

}  // namespace vantelkit
