// The traversal that a disk scan's operations run, written once for every kind of tree it
// builds. A Builder turns each listing into its own nodes; the walk decides what is listed,
// what is left out and where each subfolder goes (inline, or a new operation).
//
// What a builder provides is the concept FolderBuilder below.
// Thread safety: one walk per operation thread; the builder is the operation's own.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "vantelkit/foundation/Logging.h"
#include "vantelkit/platform/DirectoryReader.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/scanning/FileNode.h"
#include "scanning/internal/DiskScanRun.h"

namespace vantelkit::internal {

inline constexpr std::string_view kCacheTagName = "CACHEDIR.TAG";
inline constexpr std::string_view kCacheTagSignature = "Signature: 8a477f597d28d172789f06886806bc55";
// The errors the walk records itself, as the numbers that trees store.
inline constexpr int kInputOutputError = static_cast<int>(std::errc::io_error);  // when a reader gives no reason
inline constexpr int kValueOverflowError = static_cast<int>(std::errc::value_too_large);  // a tree too large to index

template <class Folder>
struct Subfolder {
  Folder folder;
  std::string_view name;  // valid until the next listing
  bool unreadable = false;
};

// What the walk asks of a builder. Folder is a folder handle, cheap to copy, false when empty.
// beginListing() drops what the last listing left; addEntry() adds one entry of the listing,
// clearListing() forgets those added so far; commitListing() makes the listing's nodes the
// folder's and fills subfolders, answering false when they cannot be kept (then nothing
// is); listingSize() counts the entries of the last committed listing; queue() hands a
// folder, its slot already reserved, to a new operation; noteListing() is for the progress
// display. keepsEveryType says whether links, devices, pipes and sockets become entries of
// their own (each with its own size, as folders then carry theirs) or are left out.
template <class B>
concept FolderBuilder = requires(B& builder, const typename B::Folder& folder,
                                 const platform::DirectoryReader::Entry& entry,
                                 std::vector<Subfolder<typename B::Folder>>& subfolders, std::int64_t bytes,
                                 std::size_t depth, FileNode::Mark mark, int error) {
  requires std::copyable<typename B::Folder>;
  { B::keepsEveryType } -> std::convertible_to<bool>;
  { static_cast<bool>(folder) };
  { builder.path(folder) } -> std::convertible_to<std::string>;
  { builder.name(folder) } -> std::convertible_to<std::string_view>;
  { builder.isChildOf(folder, folder) } -> std::convertible_to<bool>;
  builder.noteListing(folder);
  builder.beginListing(folder);
  builder.addEntry(entry, true);
  builder.clearListing();
  builder.mark(folder, mark);
  builder.setError(folder, error);
  { builder.commitListing(folder, bytes, bytes, subfolders) } -> std::same_as<bool>;
  { builder.listingSize() } -> std::convertible_to<std::size_t>;
  builder.queue(folder, depth);
};

// The path of name in the folder at folderPath.
inline std::string childPath(const std::string& folderPath, std::string_view name) {
  std::string path = folderPath;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

// Whether name, met in the folder at folderPath, matches one of the scan's exclude patterns:
// by its name, or by its path below the scan root for patterns with a "/".
inline bool isExcludedEntry(const DiskScanRun& run, std::string_view name, const std::string& folderPath) {
  const auto& excludes = run.walkOptions.excludes;
  std::string text(name);
  for (const auto& pattern : excludes)
    if (platform::globMatches(pattern, text)) return true;
  std::size_t skip = std::min(folderPath.size(), run.rootPathLength + 1);
  std::string below = folderPath.size() > run.rootPathLength ? folderPath.substr(skip) + "/" + text : text;
  if (below == text) return false;
  for (const auto& pattern : excludes)
    if (platform::globMatches(pattern, below)) return true;
  return false;
}

// Sorts the entries of one listing into the builder, and notes what could not be read.
template <FolderBuilder Builder>
class EntryVisitor final : public platform::DirectoryReader::Visitor {
 public:
  using Entry = platform::DirectoryReader::Entry;
  using FileObjectType = platform::FileObjectType;

  EntryVisitor(Builder& builder, DiskScanRun& run, const typename Builder::Folder& folder, bool isRoot,
               bool fileStatus)
      : _builder(builder), _run(run), _folder(folder), _options(run.walkOptions), _isRoot(isRoot),
        _fileStatus(fileStatus) {}

  bool wantsDirectoryDevice() const override { return _options.oneFileSystem; }
  bool wantsFileStatus() const override { return _fileStatus; }
  bool wantsStatusOf(std::string_view name) const override {
    const auto& wanted = _run.mapChoices.statusWanted;
    return wanted && wanted(name);
  }
  bool wantsEveryStatus() const override { return Builder::keepsEveryType || _options.countOwnSizes; }

  bool enterDirectory(std::uint64_t device) override {
    if (_isRoot) {
      _run.setRootDevice(device);
      return true;
    }
    if (device == _run.rootDevice()) return true;
    _builder.mark(_folder, FileNode::otherFileSystem);
    return false;
  }

  void failed(std::error_code error) override { listingError = error; }

  void visit(const Entry& given) override {
    // Without file statuses every file counts as empty, even one whose status the reader
    // read anyway, so that all of them read alike; except those asked for by name.
    Entry entry = given;
    const bool statusRead = entry.size != 0 || entry.usage != 0 || entry.linkCount != 1;
    if (!_fileStatus && statusRead && !(entry.type == FileObjectType::file && wantsStatusOf(entry.name))) {
      entry.size = entry.usage = 0;
      entry.linkCount = 1;
    }
    if (entry.name.empty()) {
      LogDebug("Encountered an unknown file");
      return;
    }
    bool isFile = entry.type == FileObjectType::file;
    bool isDirectory = entry.type == FileObjectType::directory;
    // An entry whose status could not be read keeps a node (as a file unless the listing
    // said directory), marked with the reason.
    if (entry.error != 0 && entry.type == FileObjectType::unknown) isFile = true;
    // Links, devices, pipes and sockets are never followed; a builder that keeps them, or a
    // walk that counts every entry's own size, counts theirs, and folders' own sizes too.
    const bool counted = isFile || Builder::keepsEveryType || _options.countOwnSizes;
    if (!counted && !isDirectory) return;
    if (isDirectory && _options.skipHiddenFolders && entry.name.front() == '.') return;
    if (!_options.excludes.empty() && isExcludedEntry(_run, entry.name, folderPath())) return;

    if (isFile) {
      fileBytes += entry.size;
      fileUsage += entry.usage;
    } else if (counted) {
      otherBytes += entry.size;
      otherUsage += entry.usage;
    }
    if (!isFile && !isDirectory && !Builder::keepsEveryType) return;
    if (isFile) {
      if (_options.excludeCaches && entry.error == 0 && entry.name == kCacheTagName &&
          platform::fileStartsWith(childPath(folderPath(), entry.name), kCacheTagSignature))
        holdsCacheTag = true;
    }
    _builder.addEntry(entry, isDirectory);
    if (entry.error != 0) unreadable.push_back({childPath(folderPath(), entry.name), entry.error, isDirectory});
  }

  // The listed folder's path, built once per listing and only when needed.
  const std::string& folderPath() {
    if (!_hasPath) {
      _path = _builder.path(_folder);
      _hasPath = true;
    }
    return _path;
  }

  std::int64_t fileBytes = 0;
  std::int64_t fileUsage = 0;
  // What the totals count beside files: folders' and other entries' own sizes.
  std::int64_t otherBytes = 0;
  std::int64_t otherUsage = 0;
  std::error_code listingError;
  bool holdsCacheTag = false;
  std::vector<DiskScanResult::UnreadableEntry> unreadable;

 private:
  Builder& _builder;
  DiskScanRun& _run;
  const typename Builder::Folder& _folder;
  const DiskScanner::WalkOptions& _options;
  bool _isRoot;
  bool _fileStatus;
  bool _hasPath = false;
  std::string _path;
};

// Lists start (a folder at startDepth path components), then its subfolders depth-first in
// listing order, handing some to new operations as the scanner's fan-out rule allows. The
// walk needs no recursion, whatever the tree's depth, and keeps at most one directory open.
template <FolderBuilder Builder>
void walkFolders(DiskScanRun& run, Builder& builder, const typename Builder::Folder& start,
                 std::size_t startDepth, bool fileStatus) {
  using Folder = typename Builder::Folder;
  using platform::DirectoryReader;
  const auto& settings = run.settings;
  const auto fanOut = run.fanOut;
  const int threads = run.maxConcurrentTraversals();

  // Folders still to be listed by this walk, deepest-first; popping from the back walks
  // them depth-first in listing order.
  std::vector<std::pair<Folder, std::size_t>> pending;
  pending.emplace_back(start, startDepth);
  std::vector<Subfolder<Folder>> subfolders;
  std::vector<std::pair<Folder, std::size_t>> inlineDescents;
  std::vector<Folder> descents;
  // The folder listed last, kept open while its first inline subfolder (listed next) is
  // opened through it: a chain of folders then costs one short open per level instead of
  // resolving an ever longer path.
  std::unique_ptr<DirectoryReader::Held> held;
  Folder heldFolder{};
  bool first = true;

  while (!pending.empty()) {
    Folder parent = std::move(pending.back().first);
    const std::size_t depth = pending.back().second;
    pending.pop_back();
    if (run.isCancelled() && !first) {
      builder.mark(parent, FileNode::notListed);
      for (auto& left : pending) builder.mark(left.first, FileNode::notListed);
      break;
    }
    first = false;

    // The scan root is opened as given (a link to a folder is followed); below it, never.
    const bool isRoot = depth == run.rootDepth;
    builder.beginListing(parent);
    EntryVisitor<Builder> visitor(builder, run, parent, isRoot, fileStatus);
    if (run.wantsProgress) builder.noteListing(parent);
    std::unique_ptr<DirectoryReader::Held> kept;
    DirectoryReader::Status status;
    if (held && heldFolder && builder.isChildOf(parent, heldFolder)) {
      status = run.reader().listSubdirectory(
          std::move(held), builder.name(parent), [&visitor] { return visitor.folderPath(); }, visitor, kept);
    } else {
      held.reset();
      status = run.reader().listKeeping(visitor.folderPath(), isRoot, visitor, kept);
    }
    held = std::move(kept);
    heldFolder = held ? parent : Folder{};
    // A folder gone since it was seen is no error: it was not listed.
    if (status != DirectoryReader::Status::complete && visitor.listingError == std::errc::no_such_file_or_directory) {
      builder.mark(parent, FileNode::notListed);
    } else if (status != DirectoryReader::Status::complete) {
      int error = visitor.listingError ? visitor.listingError.value() : kInputOutputError;
      builder.setError(parent, error);
      visitor.unreadable.push_back({visitor.folderPath(), error, true});
    }
    if (visitor.holdsCacheTag) {
      // A cache folder: its contents are left out as if it had not been listed.
      builder.clearListing();
      visitor.fileBytes = visitor.fileUsage = visitor.otherBytes = visitor.otherUsage = 0;
      visitor.unreadable.clear();
      builder.mark(parent, FileNode::cacheFolder);
    }
    subfolders.clear();
    if (!builder.commitListing(parent, visitor.fileBytes, visitor.fileUsage, subfolders)) {
      builder.setError(parent, kValueOverflowError);
      visitor.unreadable.clear();
      visitor.unreadable.push_back({visitor.folderPath(), kValueOverflowError, true});
      visitor.fileBytes = visitor.fileUsage = visitor.otherBytes = visitor.otherUsage = 0;
    }
    if (!visitor.unreadable.empty()) run.recordUnreadable(visitor.unreadable);
    const std::int64_t bytes = visitor.fileBytes + visitor.otherBytes, usage = visitor.fileUsage + visitor.otherUsage;
    if (bytes != 0 || usage != 0) run.addTotals(bytes, usage);

    // Decide about each subfolder: queue it while a traversal slot is free, else walk it
    // inline here. Queued ones are handed over before any inline walk starts.
    const std::size_t childDepth = depth + 1;
    const bool wide = builder.listingSize() > DiskScanner::inlineEntryLimit;
    inlineDescents.clear();
    descents.clear();
    for (auto& subfolder : subfolders) {
      if (settings.maxDepth && childDepth >= *settings.maxDepth) {
        builder.mark(subfolder.folder, FileNode::notListed);
        continue;
      }
      if (!settings.searchBundles && DiskScanner::isBundleName(subfolder.name)) continue;
      if (subfolder.unreadable) continue;  // its status could not be read
      if (childDepth == 2 && run.walkOptions.skipPseudoFileSystems) {
        // A child of "/": the scan started at "/" (the root itself is always listed).
        const auto& paths = DiskScanner::pseudoFileSystemPaths;
        std::string path = "/" + std::string(subfolder.name);
        if (std::find(paths.begin(), paths.end(), path) != paths.end()) {
          builder.mark(subfolder.folder, FileNode::pseudoFileSystem);
          continue;
        }
      }
      // A kernel file system mounted anywhere else below the root, known by its type.
      if (!run.kernelMountPoints.empty() &&
          std::binary_search(run.kernelMountPoints.begin(), run.kernelMountPoints.end(),
                             childPath(visitor.folderPath(), subfolder.name))) {
        builder.mark(subfolder.folder, FileNode::pseudoFileSystem);
        continue;
      }
      descents.push_back(std::move(subfolder.folder));
    }
    for (std::size_t i = 0; i < descents.size(); ++i) {
      Folder& folder = descents[i];
      // The last subfolder stays here when this walk has nothing else left: queueing it
      // would only hand the walk to another thread (and reopen its whole path there).
      if (i + 1 == descents.size() && inlineDescents.empty() && pending.empty()) {
        inlineDescents.emplace_back(std::move(folder), childDepth);
        break;
      }
      bool mayFanOut = fanOut == DiskScanner::FanOut::whileSlotsFree ||
                       (fanOut == DiskScanner::FanOut::wideParentsOnly && wide) ||
                       (fanOut == DiskScanner::FanOut::onDemand && run.waitingOperations() < threads);
      if (mayFanOut && run.reserveTraversalSlot()) {
        builder.queue(folder, childDepth);
      } else {
        inlineDescents.emplace_back(std::move(folder), childDepth);
      }
    }
    for (auto it = inlineDescents.rbegin(); it != inlineDescents.rend(); ++it) pending.push_back(std::move(*it));
  }
}

}  // namespace vantelkit::internal
