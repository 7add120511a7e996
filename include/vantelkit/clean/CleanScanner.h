// The driver of a clean scan: from one start() it finds the installed applications, fills
// the nine groups one after the other, moves items between groups so that nothing is
// counted twice, sizes the folder items of the log and cache groups, and tells its
// listeners of the start, the progress and the end on the main queue. The results stay in
// groups() until cleanup(). Nothing is deleted.
// Each file is in one group at most, so that group sizes add up to distinct bytes: a disk
// image or installer package in Downloads or on the Desktop is in its kind's group only;
// the searches of the whole home (disk images, installer packages, large files) give way to
// the groups that found a file where it lives: a large file in Downloads is a download, and
// a file inside a cache, log or developer folder item, or among the mail attachments, is
// counted there. The large files are what no other group has taken, as they already were
// for disk images and installers.
// Thread safety: every public member is safe to call from any thread. Listener callbacks
// run on the main queue, which the host drains; groups() is complete when scanDidFinish()
// is delivered (partial, when the scan was cancelled).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "vantelkit/applications/ApplicationBundle.h"
#include "vantelkit/clean/CleanScanGroup.h"
#include "vantelkit/clean/CleanScanItem.h"
#include "vantelkit/clean/XdgHomeScanProcedure.h"
#include "vantelkit/foundation/ListenerRegistry.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/scanning/DiskScanResult.h"

namespace vantelkit {

class Procedure;

// What a clean scan tells its listeners; every callback does nothing unless overridden.
class CleanScannerListener {
 public:
  virtual ~CleanScannerListener() = default;
  virtual void scanDidStart() {}
  virtual void scanDidFinish() {}
  // progress from 0 to 1, and a text to show.
  virtual void progressUpdate(double progress, const std::string& message) {
    (void)progress;
    (void)message;
  }
};

class CleanScanner : public std::enable_shared_from_this<CleanScanner> {
 public:
  using Groups = std::unordered_map<CleanScanGroup, CleanScanItemSet>;

  // The one shared scanner, made on first use.
  static std::shared_ptr<CleanScanner> shared();
  static void setShared(std::shared_ptr<CleanScanner> scanner);
  // A new, idle scanner with no listeners.
  static std::shared_ptr<CleanScanner> make();

  // Begins a scan and returns at once. While a scan runs, a second call only logs the
  // warning "Clean Scanner is already running".
  void start();
  // Empties groups(); nothing else.
  void cleanup();
  // Cancels the scan under way: the running step stops, the steps not begun are skipped (the
  // folder sizes too), and the scan ends as usual: isRunning() becomes false and every
  // listener hears scanDidFinish(). groups() keeps what the steps found until then. Does
  // nothing when no scan runs; a second call does nothing more.
  void cancel();
  // True when the last scan was cancelled; false again at start().
  bool wasCancelled() const;

  // True from start() until the finish notification is sent.
  bool isRunning() const { return _isRunning.load(); }
  // The result so far: entries are replaced or extended step by step during a scan.
  Groups groups() const;
  void setGroups(Groups groups);
  // What the last scan could not read, sorted by path, each path once: folders it could not
  // list and entries whose status it could not read. The groups lack what lies there, and an
  // item at or above such a path has a size that leaves it out. Complete when
  // scanDidFinish() is delivered; emptied by start().
  using Unreadable = std::vector<DiskScanResult::UnreadableEntry>;
  Unreadable unreadable() const;

  // When set, sizes are the bytes allocated on disk (what removing the files would free: a
  // sparse file counts only its allocated blocks) instead of logical sizes. Set it before
  // start(); it stays for later scans.
  void setMeasuresUsage(bool measuresUsage) { _measuresUsage.store(measuresUsage); }
  bool measuresUsage() const { return _measuresUsage.load(); }

  // Where a scan looks. `document` searches the folders of the document's system (a
  // "Library" folder in the home and at the root, "/Applications"), step by step as
  // described above. `xdg` searches a Linux desktop's: XdgHomeScanProcedure fills the
  // downloads, user caches, user logs, developer files and mail attachments from one walk of
  // the home (and installer packages from the distribution's package caches), the metadata
  // queries for installer packages (.deb, .rpm, .AppImage, .flatpakref, .snap), disk images
  // (.iso, .img, .qcow2, .vdi, .vmdk, .dmg) and large files are answered from that walk, the
  // trash is a container per trash folder inside the downloads group (TrashScanProcedure),
  // the thumbnails one container inside the user caches (ThumbnailScanProcedure), and the
  // system logs come from SystemLogScanProcedure. Every item says why it may go
  // (CleanScanItem::reason); sizes come from the walks, so there is no separate size phase.
  struct Settings {
    platform::Paths::Layout layout = platform::Paths::Layout::document;
    // xdg: build folders count only when nothing inside changed for this many days.
    int buildFolderIdleDays = 30;
    // xdg: the installed applications that cache folders are tied to; none: those of the
    // desktop's menus when the scan runs.
    std::optional<std::vector<XdgHomeScanProcedure::Application>> applications;
  };
  // Set before start(); kept for later scans.
  void setSettings(Settings settings);
  Settings settings() const;

  // Listeners are held strongly until removed; they are equal when they are the same
  // object, and an equal listener is added only once.
  void addListener(std::shared_ptr<CleanScannerListener> listener) { _listeners.add(std::move(listener)); }
  void removeListener(const std::shared_ptr<CleanScannerListener>& listener) { _listeners.remove(listener); }

  // For diagnostics and tests: called, on the adding thread, with every procedure the
  // scanner adds to its queue, before it is added. Every producer and block has a name
  // ("userLogs scan", "userLogs result", "size userCache", ...). Set it before start().
  void setWillAddProcedureHandler(std::function<void(Procedure&)> handler) {
    _listeners.setWillAddProcedureHandler(std::move(handler));
  }

  // Items for a list of files, grouped by file name: a file met once is a file item; a name
  // met more than once gives one container named with the "clean_group_copies" text (the
  // name and the count) holding a file item for each, sized as their sum. Groups come in
  // the order of their first file.
  static std::vector<std::shared_ptr<CleanScanItem>> groupCopies(const std::vector<std::shared_ptr<FileNode>>& files);

  // Use make(); public for std::make_shared.
  struct Key {
   private:
    Key() = default;
    friend class CleanScanner;
  };
  explicit CleanScanner(Key);
  CleanScanner(const CleanScanner&) = delete;
  CleanScanner& operator=(const CleanScanner&) = delete;

 private:
  void scanGroups();
  void scanXdgGroups();
  void calculateSizes();
  // Remembers the producers of a stage so that cancel() can stop them; cancels them at once
  // when the scan was cancelled already. Answers whether the scan was cancelled.
  bool track(const std::vector<std::shared_ptr<Procedure>>& producers);
  // Schedules, on the main queue, a progress report for group to every listener.
  void updateProgress(CleanScanGroup group, double progress);
  void replaceGroup(CleanScanGroup group, CleanScanItemSet items);
  void extendGroup(CleanScanGroup group, const CleanScanItemSet& items);
  // Step 8 and the large-file sorting of step 10, on the groups under one lock.
  void removeInstallersFromDownloads();
  void sortLargeFiles();
  // Before the size phase: takes out of the disk images, installer packages and large files
  // what another group holds, itself or in a folder item (see the type's comment).
  void claimEachFileOnce();
  void addUnreadable(const Unreadable& entries);
  // After the size phase, when measuring usage: each file item takes its file's allocated
  // bytes and each container the sum of its children (folder items were measured so).
  void measureFilesByUsage();
  // Hands a step's unreadable entries to addUnreadable() while the scanner exists.
  std::function<void(const Unreadable&)> unreadableSink();

  std::atomic<bool> _isRunning{false};
  std::atomic<bool> _measuresUsage{false};
  ListenerRegistry<CleanScannerListener> _listeners;
  mutable std::mutex _mutex;
  // Guarded by _mutex:
  Groups _groups;
  ApplicationBundleSet _allApplications;
  bool _cancelled = false;
  std::vector<std::weak_ptr<Procedure>> _producers;  // of the scan under way
  Unreadable _unreadable;  // sorted by path, each once
  Settings _settings;
  // The layout of the scan under way, fixed at start().
  platform::Paths::Layout _layoutInUse = platform::Paths::Layout::document;
  // Runs one procedure at a time, so that the dependencies make the chain sequential.
  ProcedureQueue _queue{"CleanScanner"};
};

}  // namespace vantelkit
