// The interactive file search: scans a folder in the background with a list of tests,
// reports the matches found so far ten times a second, and the final list once.
// Thread safety: main queue only (start, stop, callbacks). Both callbacks are called on the
// main queue; they hold the scanner weakly, so none arrive once the client drops it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/scanning/FileCollector.h"

namespace vantelkit {

namespace internal {
class Heartbeat;
}

class FileScanner : public std::enable_shared_from_this<FileScanner> {
 public:
  struct Callbacks {
    // The matches so far and the number of nodes examined so far.
    std::function<void(const std::vector<std::shared_ptr<FileNode>>&, std::int64_t)> scanUpdate;
    // The final matches and the number of nodes the scan created.
    std::function<void(const std::vector<std::shared_ptr<FileNode>>&, std::int64_t)> didFinishScanningFiles;
  };

  // Searches url (bundles included) for the nodes that pass every one of evaluators.
  static std::shared_ptr<FileScanner> make(FileURL url, std::vector<FileCollector::Evaluator> evaluators);
  ~FileScanner();
  FileScanner(const FileScanner&) = delete;
  FileScanner& operator=(const FileScanner&) = delete;

  // Set before start().
  Callbacks callbacks;

  // Starts a search; while one runs, only logs a warning.
  void start();
  // Cancels the running search: no final report comes, and the scanner is idle again, so
  // start() may begin a new search at once (it runs once the cancelled scan has wound down).
  void stop();
  // True from start() until the final report was queued, or until stop().
  bool isRunning() const { return _isRunning.load(); }
  const FileURL& url() const { return _url; }
  const std::vector<FileCollector::Evaluator>& evaluators() const { return _evaluators; }

 private:
  FileScanner(FileURL url, std::vector<FileCollector::Evaluator> evaluators);

  std::atomic<bool> _isRunning{false};
  const FileURL _url;
  const std::vector<FileCollector::Evaluator> _evaluators;
  std::shared_ptr<internal::Heartbeat> _updateTimer;  // main queue
  std::unique_ptr<ProcedureQueue> _queue;
  // Which search is current: a completion of an older (stopped) one changes nothing.
  std::atomic<std::uint64_t> _generation{0};
};

}  // namespace vantelkit
