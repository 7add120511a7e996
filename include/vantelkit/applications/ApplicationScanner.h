// The driver of the application inventory: from one start() it finds the applications in
// the default and the user folders and merges them (one item per bundle identifier, every
// copy listed in its binaries), gathers the support-file candidates, measures each bundle
// and finds the applications nested in it, matches the support files to each application,
// measures the matched folders, and tells its listeners of the start, the progress and the
// end on the main queue. The result stays in applications() until cleanup(). Nothing is
// deleted.
// Thread safety: every public member is safe to call from any thread. Listener callbacks
// run on the main queue, which the host drains. The items' fields are filled in by the
// scan's stages; read them once scanDidFinish() has been delivered (partly filled in, when
// the scan was cancelled).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vantelkit/applications/ApplicationItem.h"
#include "vantelkit/applications/ApplicationResourceGroup.h"
#include "vantelkit/applications/ApplicationSupportFiles.h"
#include "vantelkit/foundation/ListenerRegistry.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/scanning/DiskScanResult.h"

namespace vantelkit {

class GroupProcedure;
class Procedure;

// What an application scan tells its listeners; every callback does nothing unless
// overridden.
class ApplicationScannerListener {
 public:
  virtual ~ApplicationScannerListener() = default;
  virtual void scanDidStart() {}
  virtual void scanDidFinish() {}
  // progress from 0 to 1, and a text to show.
  virtual void progressUpdate(double progress, const std::string& message) {
    (void)progress;
    (void)message;
  }
};

class ApplicationScanner : public std::enable_shared_from_this<ApplicationScanner> {
 public:
  // The one shared scanner, made on first use.
  static std::shared_ptr<ApplicationScanner> shared();
  static void setShared(std::shared_ptr<ApplicationScanner> scanner);
  // A new, idle scanner with no listeners.
  static std::shared_ptr<ApplicationScanner> make();

  // Begins a scan and returns at once. While a scan runs, a second call only logs the
  // warning "Application Scanner is already running".
  void start();
  // Empties applications() and drops the support-file candidates; nothing else.
  void cleanup();
  // Cancels the scan under way: the running stage stops, the stages not begun are skipped,
  // and the scan ends as usual: isRunning() becomes false and every listener hears
  // scanDidFinish(). applications() keeps what the stages found until then (an item whose
  // matching or sizing was skipped has no resources, or the sizes it had). Does nothing when
  // no scan runs; a second call does nothing more.
  void cancel();
  // True when the last scan was cancelled; false again at start().
  bool wasCancelled() const;

  // True from start() until the finish notification is sent.
  bool isRunning() const { return _isRunning.load(); }
  // The inventory: replaced early in each scan, its items filled in as the scan goes on.
  ApplicationItemSet applications() const;
  void setApplications(ApplicationItemSet applications);
  // What the last scan could not read, sorted by path, each path once: support-file folders
  // it could not list, and what it could not read while measuring the matched folders (a
  // resource at or above such a path has a size that leaves it out). Complete when
  // scanDidFinish() is delivered; emptied by start().
  using Unreadable = std::vector<DiskScanResult::UnreadableEntry>;
  Unreadable unreadable() const;

  // Listeners are held strongly until removed; they are equal when they are the same
  // object, and an equal listener is added only once.
  void addListener(std::shared_ptr<ApplicationScannerListener> listener) { _listeners.add(std::move(listener)); }
  void removeListener(const std::shared_ptr<ApplicationScannerListener>& listener) { _listeners.remove(listener); }

  // For diagnostics and tests: called, on the adding thread, with every top-level procedure
  // the scanner adds to its queue, before it is added. Each has a name ("applications scan",
  // "applications result", "other applications scan", "other applications result",
  // "support files scan", "support files result", "bundle stage", "bundle scans",
  // "matching", "matching end", "sizing", "end"). Set it before start().
  void setWillAddProcedureHandler(std::function<void(Procedure&)> handler) {
    _listeners.setWillAddProcedureHandler(std::move(handler));
  }

  // Use make(); public for std::make_shared.
  struct Key {
   private:
    Key() = default;
    friend class ApplicationScanner;
  };
  explicit ApplicationScanner(Key);
  ApplicationScanner(const ApplicationScanner&) = delete;
  ApplicationScanner& operator=(const ApplicationScanner&) = delete;

 private:
  using Category = ApplicationResourceGroup::Category;

  void bundleStage();
  void matchingStage();
  void sizingStage();
  // Sets isRunning to false and tells the listeners, on the main queue; then calls done.
  void finishScan(std::function<void()> done);
  // Schedules, on the main queue, a progress report naming category to every listener.
  void updateProgress(Category category, double progress);
  // Step B: the other applications' items merged into applications.
  void mergeOtherApplications(const ApplicationItemSet& found);
  std::vector<std::shared_ptr<ApplicationItem>> applicationList() const;
  // Remembers the producers of a stage so that cancel() can stop them; cancels them at once
  // when the scan was cancelled already.
  void track(const std::vector<std::shared_ptr<Procedure>>& producers);
  void addUnreadable(const Unreadable& entries);
  // A resource's size measurement and the step that stores it (and what it could not read).
  void addSizing(GroupProcedure& group, const std::shared_ptr<ApplicationResourceGroup::Resource>& resource);

  std::atomic<bool> _isRunning{false};
  ListenerRegistry<ApplicationScannerListener> _listeners;
  mutable std::mutex _mutex;
  // Guarded by _mutex:
  ApplicationItemSet _applications;
  std::vector<std::shared_ptr<FileNode>> _userData;
  std::shared_ptr<ApplicationSupportFiles> _supportFiles;
  bool _cancelled = false;
  std::vector<std::weak_ptr<Procedure>> _producers;  // of the scan under way
  Unreadable _unreadable;  // sorted by path, each once
  // Runs one top-level procedure at a time, so that the dependencies make the stages
  // sequential.
  ProcedureQueue _queue{"ApplicationScanner"};
};

}  // namespace vantelkit
