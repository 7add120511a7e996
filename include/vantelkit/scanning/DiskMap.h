// A disk map in compact form: the same tree a scan with a built FileNode tree gives (names,
// types, sizes summed into folders, marks and errors), kept as fixed 40-byte entries in
// pooled blocks, each folder's children one contiguous run of indices, each name stored
// once. About a third of the FileNode tree's memory, and no allocation per entry.
//
// Entries are numbered from 0 (the root); a folder's children follow each other in listing
// order, and every child has a higher index than its folder. A folder's size and usage are
// the sums of the regular files below it (a further link to a file counted elsewhere is left
// out when its entry has the FileNode::duplicateLink mark).
//
// Made by DiskScanner::scanMap() or from a FileNode tree with fromTree().
// Thread safety: a finished map is immutable and may be read from any thread. While a scan
// fills it, reserve() may be called from any thread and each traversal writes only the
// entries it reserved; read nothing until the scan has returned the map.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/scanning/DiskScanResult.h"
#include "vantelkit/scanning/FileNode.h"

namespace vantelkit {

class DiskMap {
 public:
  using Index = std::uint32_t;
  static constexpr Index rootIndex = 0;
  // Entries a map can hold.
  static constexpr std::uint64_t capacity = 0xFFFFFFFFu;

  // One file or folder. Plain data, so that unused pool space is never touched.
  struct Entry {
    std::int64_t size;   // bytes; a folder's: the sum below it
    std::int64_t usage;  // bytes allocated on disk; a folder's: the sum below it
    const char* name;    // the last path component, NUL-terminated (bytes, not always UTF-8)
    Index parent;        // the root's is its own index
    Index firstChild;    // a folder's children: firstChild ... firstChild + childCount - 1
    Index childCount;
    std::uint8_t type;   // a FileNode::NodeType
    std::uint8_t marks;  // FileNode::Mark bits
    std::uint16_t error; // the system's error number for an unreadable entry

    FileNode::NodeType nodeType() const { return static_cast<FileNode::NodeType>(type); }
    bool isDirectory() const { return nodeType() == FileNode::NodeType::directory; }
    bool hasMark(FileNode::Mark mark) const { return (marks & mark) != 0; }
    std::string_view nameView() const { return name; }
    // error as an error code, to compare with std::errc; no error for a readable entry.
    std::error_code errorCode() const { return platform::errorCodeFromNumber(error); }
  };

  // A regular file with several links, as the scan met it.
  struct HardLink {
    Index entry = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint32_t linkCount = 0;
  };

  // A map of the folder at root holding only its root entry: a folder named after the URL's
  // last component ("/" for the root folder), with nothing in it yet.
  explicit DiskMap(const FileURL& root);
  ~DiskMap();
  DiskMap(const DiskMap&) = delete;
  DiskMap& operator=(const DiskMap&) = delete;

  // The map of a FileNode tree (its sizes taken as they are), with result's figures when
  // given. Entries are numbered breadth-first.
  static std::shared_ptr<DiskMap> fromTree(const FileNode& root, const DiskScanResult* result = nullptr);

  // Entries held, the root included.
  std::size_t count() const { return static_cast<std::size_t>(_count.load(std::memory_order_acquire)); }
  const Entry& operator[](Index index) const { return _chunks[index >> kChunkBits][index & kChunkMask]; }
  Entry& at(Index index) { return _chunks[index >> kChunkBits][index & kChunkMask]; }
  const Entry& root() const { return (*this)[rootIndex]; }
  const std::string& rootPath() const { return _rootPath; }
  // The absolute path of an entry.
  std::string path(Index index) const;
  // The path of index below the root ("" for the root itself).
  std::string relativePath(Index index) const;

  // Bytes the map holds (entries and names, the pools' unused space included).
  std::size_t memoryUsed() const;

  // What the scan found beyond its tree, as DiskScanResult reports it.
  std::int64_t totalSize() const { return _totalSize; }
  std::int64_t totalUsage() const { return _totalUsage; }
  const std::vector<DiskScanResult::UnreadableEntry>& unreadableEntries() const { return _unreadable; }
  std::size_t unreadableCount() const { return _unreadable.size(); }
  // Sorted by device, inode and path.
  const std::vector<HardLink>& hardLinks() const { return _hardLinks; }
  bool hardLinksCountedOnce() const { return _hardLinksCountedOnce; }
  bool isComplete() const { return _complete; }
  double elapsed() const { return _elapsed; }
  // Entries found below the root.
  std::int64_t totalFilesScanned() const { return _filesScanned; }
  // False when the map holds only names and types: files' sizes were not read.
  bool hasFileSizes() const { return _hasFileSizes; }
  // True when each folder's children are in the byte order of their names (else in the
  // order the folder was listed).
  bool namesInOrder() const { return _namesInOrder; }

  // For the scan that fills the map. A block of count consecutive entries (left
  // uninitialised) and nameBytes bytes for their names; not reserved when the map would pass
  // its capacity. Any thread.
  struct Block {
    bool reserved = false;
    Index first = 0;
    char* names = nullptr;
  };
  Block reserve(std::size_t count, std::size_t nameBytes);
  // Adds every entry's size and usage to its folder's, from the deepest up (sizes of files
  // only before; folders then hold their sums). Once, after the scan.
  void sumFolders();
  // Marks every link after the first of each file FileNode::duplicateLink and takes it out
  // of the totals (before sumFolders()); or only sorts the links.
  void settleHardLinks(std::vector<HardLink> links, bool countOnce);
  void setFigures(std::int64_t totalSize, std::int64_t totalUsage, std::vector<DiskScanResult::UnreadableEntry> unreadable,
                  bool complete, double elapsed, std::int64_t filesScanned, bool hasFileSizes, bool namesInOrder);

 private:
  static constexpr unsigned kChunkBits = 16;
  static constexpr Index kChunkMask = (Index{1} << kChunkBits) - 1;
  static constexpr std::size_t kChunkSlots = std::size_t{1} << (32 - kChunkBits);
  static constexpr std::size_t kNameBlockBytes = std::size_t{1} << 20;

  std::string _rootPath;
  std::unique_ptr<Entry*[]> _chunks;  // kChunkSlots slots; a chunk is written once, before use
  std::atomic<std::uint64_t> _count{0};
  mutable std::mutex _reserveMutex;
  std::uint64_t _reserved = 0;                          // guarded by _reserveMutex
  std::vector<std::unique_ptr<char[]>> _nameBlocks;     // likewise
  std::size_t _nameBytesHeld = 0;                       // likewise
  char* _nameCursor = nullptr;                          // likewise
  std::size_t _nameLeft = 0;                            // likewise

  std::int64_t _totalSize = 0;
  std::int64_t _totalUsage = 0;
  std::vector<DiskScanResult::UnreadableEntry> _unreadable;
  std::vector<HardLink> _hardLinks;
  bool _hardLinksCountedOnce = false;
  bool _complete = true;
  double _elapsed = 0;
  std::int64_t _filesScanned = 0;
  bool _hasFileSizes = true;
  bool _namesInOrder = false;
};

}  // namespace vantelkit
