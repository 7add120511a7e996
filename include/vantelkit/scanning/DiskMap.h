// A disk map in compact form: the tree a scan with a built FileNode tree gives (names,
// types, sizes summed into folders, marks and errors), with links, devices, pipes and
// sockets as entries of their own kind too, kept as fixed 40-byte entries in
// pooled blocks, each folder's children one contiguous run of indices, each name stored
// once. About a third of the FileNode tree's memory, and no allocation per entry.
//
// Entries are numbered from 0 (the root); a folder's children follow each other in listing
// order, and every child has a higher index than its folder. A folder's size and usage are
// its own (as the file system gives them for the folder itself) plus those of every entry
// below it, each entry counted with its own status: a link's own size, never what it points
// to (a further link to a file counted elsewhere is left out when its entry has the
// FileNode::duplicateLink mark). A map made from a FileNode tree or imported without
// folders' own sizes sums its files only.
//
// Made by DiskScanner::scanMap(), by DiskMapImport or from a FileNode tree with fromTree().
// children() and visit() walk it; visit() keeps its own stack on the heap, so a chain of
// any depth is walked in constant call stack.
// Thread safety: a finished map is immutable and may be read from any thread. While a scan
// fills it, reserve() may be called from any thread and each traversal writes only the
// entries it reserved; read nothing until the scan has returned the map.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <iterator>
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
    std::int64_t size;   // bytes; a folder's: its own and the sum below it
    std::int64_t usage;  // bytes allocated on disk; a folder's: its own and the sum below it
    const char* name;    // the last path component, NUL-terminated (bytes, not always UTF-8)
    Index parent;        // the root's is its own index
    Index firstChild;    // a folder's children: firstChild ... firstChild + childCount - 1
    Index childCount;
    std::uint8_t type;   // a FileNode::NodeType: file, directory, link, fifo, socket, block, character
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

  // A folder's children as a range of indices, in the order of the map (listing order, or
  // name order when namesInOrder()). Empty for a file.
  class Children {
   public:
    class iterator {
     public:
      using iterator_category = std::random_access_iterator_tag;
      using value_type = Index;
      using difference_type = std::ptrdiff_t;
      using pointer = const Index*;
      using reference = Index;
      iterator() = default;
      explicit iterator(Index at) : _at(at) {}
      Index operator*() const { return _at; }
      Index operator[](difference_type offset) const { return static_cast<Index>(_at + offset); }
      iterator& operator++() { ++_at; return *this; }
      iterator operator++(int) { auto before = *this; ++_at; return before; }
      iterator& operator--() { --_at; return *this; }
      iterator operator--(int) { auto before = *this; --_at; return before; }
      iterator& operator+=(difference_type offset) { _at = static_cast<Index>(_at + offset); return *this; }
      iterator& operator-=(difference_type offset) { _at = static_cast<Index>(_at - offset); return *this; }
      friend iterator operator+(iterator it, difference_type offset) { return it += offset; }
      friend iterator operator+(difference_type offset, iterator it) { return it += offset; }
      friend iterator operator-(iterator it, difference_type offset) { return it -= offset; }
      friend difference_type operator-(iterator a, iterator b) {
        return static_cast<difference_type>(a._at) - static_cast<difference_type>(b._at);
      }
      friend auto operator<=>(iterator, iterator) = default;

     private:
      Index _at = 0;
    };
    Children(Index first, Index count) : _first(first), _count(count) {}
    iterator begin() const { return iterator(_first); }
    iterator end() const { return iterator(static_cast<Index>(_first + _count)); }
    std::size_t size() const { return _count; }
    bool empty() const { return _count == 0; }
    Index operator[](std::size_t i) const { return static_cast<Index>(_first + i); }

   private:
    Index _first;
    Index _count;
  };
  Children children(Index folder) const {
    const Entry& entry = (*this)[folder];
    return Children(entry.firstChild, entry.childCount);
  }
  // Whether, among one folder's children, a's path sorts before b's in byte order when a
  // folder's path is taken with its trailing "/" (so that a folder comes right before what
  // it holds, and walking each folder's children in this order gives whole paths in order).
  static bool pathOrderBefore(const Entry& a, const Entry& b);
  // Replaces into with a folder's children in the byte order of their names.
  void childrenByName(Index folder, std::vector<Index>& into) const;

  // The order in which visit() takes each folder's children.
  enum class Order {
    map,   // as children() gives them
    name,  // by the bytes of their names
  };
  // Walks the entries from start depth first: enter(index, depth) for each (depth 0 for
  // start), answering whether to go into its children; leave(index, depth) once the children
  // of an entry that enter let in have been walked (also when it has none).
  template <class Enter, class Leave>
  void visit(Index start, Order order, Enter&& enter, Leave&& leave) const {
    if (order == Order::map || _namesInOrder) {
      visitArranged(
          start, [this](Index folder, std::vector<Index>& children) {
            auto run = this->children(folder);
            children.assign(run.begin(), run.end());
          },
          enter, leave);
    } else {
      visitArranged(
          start, [this](Index folder, std::vector<Index>& children) { childrenByName(folder, children); }, enter,
          leave);
    }
  }
  // As visit(), with the children walked for each folder entered chosen by
  // arrange(folder, children): it fills children (given empty) with the indices to walk, in
  // their order, and may leave some out.
  template <class Arrange, class Enter, class Leave>
  void visitArranged(Index start, Arrange&& arrange, Enter&& enter, Leave&& leave) const;

  // Walks the entries below start in the byte order of their paths, as sort(1) would order
  // them: visitor(index, path) gets each entry's path (prefix, then the names below start,
  // "/"-separated) and answers whether to go into its children. A folder's own path comes
  // where its name sorts among its siblings, what is below it where its name and "/" sort.
  template <class Visitor>
  void visitInPathOrder(Index start, std::string prefix, Visitor&& visitor) const;

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
  // Folders not listed (FileNode::notListed), as counted when the map was summed.
  std::size_t notListedCount() const { return _notListed; }
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
  // Adds every entry's size and usage to its folder's, from the deepest up (each entry's own
  // before; folders then hold their sums), marks FileNode::partlyRead the folders with
  // something unreadable or not listed below, and counts the folders not listed. Once,
  // after the scan.
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
  std::size_t _notListed = 0;
  double _elapsed = 0;
  std::int64_t _filesScanned = 0;
  bool _hasFileSizes = true;
  bool _namesInOrder = false;

  // One place among a folder's children in path order: the entry itself, or (for a folder)
  // everything below it.
  struct PathSlot {
    Index index;
    bool below;
    bool skipped;
  };
  void pathSlots(Index folder, std::vector<PathSlot>& into) const;
};

template <class Arrange, class Enter, class Leave>
void DiskMap::visitArranged(Index start, Arrange&& arrange, Enter&& enter, Leave&& leave) const {
  struct Frame {
    Index folder;
    std::size_t next;
    std::vector<Index> children;
  };
  // Frames are kept when popped, so that their children's storage is used again.
  std::vector<Frame> stack;
  std::size_t depth = 0;
  auto push = [&](Index folder) {
    if (stack.size() == depth) stack.push_back(Frame{folder, 0, {}});
    Frame& frame = stack[depth++];
    frame.folder = folder;
    frame.next = 0;
    frame.children.clear();
    arrange(folder, frame.children);
  };
  if (!enter(start, std::size_t{0})) return;
  push(start);
  while (depth > 0) {
    Frame& frame = stack[depth - 1];
    if (frame.next == frame.children.size()) {
      --depth;
      leave(frame.folder, depth);
      continue;
    }
    const Index child = frame.children[frame.next++];
    if (enter(child, depth)) push(child);
  }
}

template <class Visitor>
void DiskMap::visitInPathOrder(Index start, std::string prefix, Visitor&& visitor) const {
  struct Frame {
    std::size_t next;
    std::size_t pathLength;  // the folder's path with its "/", within path
    std::vector<PathSlot> slots;
  };
  std::vector<Frame> stack;
  std::size_t depth = 0;
  std::string path = std::move(prefix);
  auto push = [&](Index folder) {
    if (stack.size() == depth) stack.push_back(Frame{});
    Frame& frame = stack[depth++];
    frame.next = 0;
    frame.pathLength = path.size();
    pathSlots(folder, frame.slots);
  };
  push(start);
  while (depth > 0) {
    Frame& frame = stack[depth - 1];
    if (frame.next == frame.slots.size()) {
      --depth;
      continue;
    }
    const PathSlot slot = frame.slots[frame.next++];
    path.resize(frame.pathLength);
    path += (*this)[slot.index].nameView();
    if (slot.below) {
      if (slot.skipped) continue;
      path += '/';
      push(slot.index);
    } else if (!visitor(slot.index, static_cast<const std::string&>(path)) && (*this)[slot.index].childCount > 0) {
      // What is below the folder comes after its own slot, past only the siblings whose names
      // extend its name with a byte before "/": mark it skipped.
      for (std::size_t i = frame.next; i < frame.slots.size(); ++i) {
        if (frame.slots[i].index == slot.index) {
          frame.slots[i].skipped = true;
          break;
        }
      }
    }
  }
}

}  // namespace vantelkit
