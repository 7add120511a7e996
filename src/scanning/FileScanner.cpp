#include "vantelkit/scanning/FileScanner.h"

#include "scanning/internal/Heartbeat.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/scanning/FileScanProcedure.h"

namespace vantelkit {

std::shared_ptr<FileScanner> FileScanner::make(FileURL url, std::vector<FileCollector::Evaluator> evaluators) {
  return std::shared_ptr<FileScanner>(new FileScanner(std::move(url), std::move(evaluators)));
}

FileScanner::FileScanner(FileURL url, std::vector<FileCollector::Evaluator> evaluators)
    : _url(std::move(url)), _evaluators(std::move(evaluators)), _queue(ProcedureQueue::serial("FileScanner")) {
  _queue->setQualityOfService(QualityOfService::userInitiated);
}

FileScanner::~FileScanner() {
  if (_updateTimer) _updateTimer->cancel();
  _queue->cancelAllOperations();
}

void FileScanner::start() {
  if (_isRunning.load()) {
    LogWarning("File Scanner is already running");
    return;
  }
  _isRunning.store(true);
  const std::uint64_t generation = ++_generation;
  auto collector = std::make_shared<SearchFileCollector>(_evaluators);
  std::weak_ptr<FileScanner> weak = weak_from_this();

  if (_updateTimer) _updateTimer->cancel();
  _updateTimer = std::make_shared<internal::Heartbeat>(0.1, [weak, collector] {
    if (!weak.lock()) return;
    DispatchQueue::main()->async([weak, collector] {
      auto self = weak.lock();
      if (!self || !self->callbacks.scanUpdate) return;
      self->callbacks.scanUpdate(collector->files(), collector->evaluatedCount());
    });
  });
  auto timer = _updateTimer;

  auto scan = std::make_shared<FileScanProcedure>(_url, std::vector<std::shared_ptr<FileCollector>>{collector}, true,
                                                  std::nullopt);
  auto completion = resultProcessingProcedure(
      scan, [weak, collector, timer, generation](const std::shared_ptr<DiskScanResult>& result) {
        auto self = weak.lock();
        if (!self) return;
        std::int64_t scanned = result->totalFilesScanned();
        DispatchQueue::main()->async([weak, collector, scanned] {
          auto strong = weak.lock();
          if (!strong || !strong->callbacks.didFinishScanningFiles) return;
          strong->callbacks.didFinishScanningFiles(collector->files(), scanned);
        });
        timer->suspend();
        if (self->_generation.load() == generation) self->_isRunning.store(false);
      });

  _updateTimer->resume();
  _queue->addOperation(scan);
  _queue->addOperation(completion);
}

void FileScanner::stop() {
  if (!_isRunning.load()) return;
  LogDebug("Stop: Cancel all Filescanner operations");
  _queue->cancelAllOperations();
  if (_updateTimer) _updateTimer->suspend();
  // A stopped scanner may start again; the cancelled search's completion never runs, and
  // the generation keeps a late one from touching the new search.
  ++_generation;
  _isRunning.store(false);
}

}  // namespace vantelkit
