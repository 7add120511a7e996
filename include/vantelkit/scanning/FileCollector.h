// Collectors: the filters and result lists of a file scan. A scan offers every node it
// creates to every collector; each keeps, in acceptance order, the nodes its rule accepts.
// Thread safety: safe to use from any thread. Offering, files() and the callback setter
// take the collector's own lock; the callback runs on the offering (scanning) thread with
// the collector locked, so it must not call back into the collector.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "vantelkit/scanning/FileNode.h"

namespace vantelkit {

class FileCollector : public std::enable_shared_from_this<FileCollector> {
 public:
  using Evaluator = std::function<bool(const std::shared_ptr<FileNode>&)>;
  using DidCollectFileCallback = std::function<void(const std::vector<std::shared_ptr<FileNode>>&)>;

  FileCollector() = default;
  virtual ~FileCollector() = default;
  FileCollector(const FileCollector&) = delete;
  FileCollector& operator=(const FileCollector&) = delete;

  // The collector's kind name ("filesAndDirectories" for the base).
  virtual std::string identifier() const;
  // The acceptance test (the base accepts every node). A test that touches its collector
  // holds it weakly and answers false once the collector is gone.
  virtual Evaluator evaluator();

  // Offers one node, as a scan does: under the lock, asks the test; when it accepts,
  // appends the node and calls the callback with the whole list. Answers the test's answer.
  bool offer(const std::shared_ptr<FileNode>& node);
  // Offers several nodes in order under one hold of the lock, with test (which must be this
  // collector's evaluator()) instead of asking evaluator() for each.
  void offer(std::span<const std::shared_ptr<FileNode>> nodes, const Evaluator& test);

  // A copy of the accepted nodes, in acceptance order.
  std::vector<std::shared_ptr<FileNode>> files() const;
  std::size_t fileCount() const;
  void setDidCollectFileCallback(DidCollectFileCallback callback);

  // Collectors are equal when their identifiers are: a set holds one per kind.
  bool operator==(const FileCollector& other) const { return identifier() == other.identifier(); }
  std::size_t hash() const { return std::hash<std::string>{}(identifier()); }

 private:
  mutable std::mutex _mutex;
  std::vector<std::shared_ptr<FileNode>> _files;      // guarded by _mutex
  DidCollectFileCallback _didCollectFileCallback;     // guarded by _mutex
};

struct FileCollectorHash {
  std::size_t operator()(const std::shared_ptr<FileCollector>& c) const noexcept { return c ? c->hash() : 0; }
};
struct FileCollectorEqual {
  bool operator()(const std::shared_ptr<FileCollector>& a, const std::shared_ptr<FileCollector>& b) const {
    if (!a || !b) return a == b;
    return *a == *b;
  }
};

// Regular files and everything else that is not a directory.
class NonDirectoryCollector : public FileCollector {
 public:
  std::string identifier() const override { return "files"; }
  Evaluator evaluator() override;
};

class DirectoryCollector : public FileCollector {
 public:
  std::string identifier() const override { return "directories"; }
  Evaluator evaluator() override;
};

// Non-directories except those named ".DS_Store".
class NonDSStoreFileCollector : public FileCollector {
 public:
  std::string identifier() const override { return "filesIgnoringDsStore"; }
  Evaluator evaluator() override;
};

// Items with the extension "pkg" (case-sensitive), files and directories alike.
class PackageCollector : public FileCollector {
 public:
  std::string identifier() const override { return "packages"; }
  Evaluator evaluator() override;
};

class DiskImageCollector : public FileCollector {
 public:
  std::string identifier() const override { return "diskImages"; }
  Evaluator evaluator() override;
};

class XcodeArchiveCollector : public FileCollector {
 public:
  std::string identifier() const override { return "xcodeArchives"; }
  Evaluator evaluator() override;
};

class ApplicationCollector : public FileCollector {
 public:
  std::string identifier() const override { return "applications"; }
  Evaluator evaluator() override;
};

// Non-directories below a folder named exactly "Attachments", except ".DS_Store".
// Its identifier is the base's.
class MailAttachmentCollector : public FileCollector {
 public:
  Evaluator evaluator() override;
};

// Accepts nothing; totals the size of every node offered (directories are offered with
// size 0 by a scan, so the total is the sum of the regular files).
class SizeCollector : public FileCollector {
 public:
  std::string identifier() const override { return "size"; }
  Evaluator evaluator() override;
  std::int64_t totalSize() const { return _totalSize.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::int64_t> _totalSize{0};  // written under the collector's lock
};

// Accepts the nodes that pass every one of its tests, asked in order up to the first
// refusal (no tests: every node). Counts every node offered.
class SearchFileCollector : public FileCollector {
 public:
  explicit SearchFileCollector(std::vector<Evaluator> evaluators);
  std::string identifier() const override { return "search"; }
  Evaluator evaluator() override;
  // Nodes offered so far; may be read without the lock (for progress displays).
  std::int64_t evaluatedCount() const { return _evaluatedCount.load(std::memory_order_relaxed); }
  const std::vector<Evaluator>& evaluators() const { return _evaluators; }

 private:
  std::atomic<std::int64_t> _evaluatedCount{0};
  const std::vector<Evaluator> _evaluators;
};

}  // namespace vantelkit
