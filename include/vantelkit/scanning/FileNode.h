// A file or folder met by a scan, and the tree of them that a disk map builds: a parent
// owns its children, a child refers to its parent weakly, so the root keeps the tree alive.
// Thread safety: a node is made by one traversal and then shared. size() may be read while
// a scan adds to it (atomic); children are appended only by the traversal listing the node,
// so read them once its scan has finished. Derived properties may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/foundation/Result.h"
#include "vantelkit/foundation/Value.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/Image.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

class FileNode {
 public:
  // The object-type codes of the file system's directory read.
  enum class NodeType : int {
    none = 0,
    file = 1,
    directory = 2,
    block = 3,
    character = 4,
    link = 5,
    socket = 6,
    fifo = 7,
    bad = 8,
    string = 9,
    complex = 10,
  };
  // None for a raw value outside 0 to 10.
  static std::optional<NodeType> nodeTypeFromRawValue(int rawValue);
  // The case name ("file", "directory", "char" for character).
  static std::string_view nodeTypeName(NodeType type);

  // What a scan noted about a node beyond its size (several may be set).
  enum Mark : std::uint8_t {
    // The item could not be read: a folder that could not be listed (or only in part), or
    // an entry whose status could not be read. error() holds the reason; sizes are only
    // what could be read.
    unreadable = 1,
    // A folder not listed because it lies on another file system (one-file-system scans).
    otherFileSystem = 2,
    // A folder not listed because it is a kernel's pseudo file system (/proc, /sys, ...).
    pseudoFileSystem = 4,
    // A folder not listed because it holds a valid CACHEDIR.TAG.
    cacheFolder = 8,
    // A regular file with more than one link.
    hardLink = 16,
    // A further link to a file counted elsewhere in the scan: its size is not in the sums.
    duplicateLink = 32,
    // A folder the scan did not list: it was cancelled first, the folder lies past the depth
    // limit, or it was removed before it could be listed. What it holds is not in the sums.
    notListed = 64,
    // A folder with something below it unreadable or not listed (set on a DiskMap's folders
    // when they are summed): its sums are short of what is on disk.
    partlyRead = 128,
  };

  // The keys of the encoded form; only the first five are written or read.
  enum class CodingKeys { url, size, children, parent, type, fileExtension, icon, kind, allParents };
  static std::string_view codingKeyName(CodingKeys key);

  // Prefer make(); public so that std::make_shared can reach it.
  FileNode(FileURL url, const std::shared_ptr<FileNode>& parent, std::int64_t size, NodeType type);
  // The one way nodes are made: the four fields set, no children.
  static std::shared_ptr<FileNode> make(FileURL url, const std::shared_ptr<FileNode>& parent, std::int64_t size,
                                        NodeType type);

  // Releases the subtree without recursion, so a tree of any depth can be dropped.
  ~FileNode();
  FileNode(const FileNode&) = delete;
  FileNode& operator=(const FileNode&) = delete;

  const FileURL& url() const { return _url; }
  // Bytes: a file's logical size; a directory's running total of the regular files below it
  // when a tree is built, 0 otherwise.
  std::int64_t size() const { return _size.load(std::memory_order_relaxed); }
  void setSize(std::int64_t size) { _size.store(size, std::memory_order_relaxed); }
  // Atomic addition, for the traversals that sum a tree concurrently.
  void addSize(std::int64_t bytes) { _size.fetch_add(bytes, std::memory_order_relaxed); }
  // Bytes allocated on disk: a file's own; a directory's running total of the regular files
  // below it when a tree is built.
  std::int64_t usage() const { return _usage.load(std::memory_order_relaxed); }
  void addUsage(std::int64_t bytes) { _usage.fetch_add(bytes, std::memory_order_relaxed); }
  void setUsage(std::int64_t bytes) { _usage.store(bytes, std::memory_order_relaxed); }
  // Marks are set by the traversal that creates or lists the node, and by the scan's end;
  // read them once the scan has finished.
  std::uint8_t marks() const { return _marks; }
  bool hasMark(Mark mark) const { return (_marks & mark) != 0; }
  void addMark(Mark mark) { _marks = static_cast<std::uint8_t>(_marks | mark); }
  // The system's error number for an unreadable node, 0 otherwise.
  int error() const { return _error; }
  // error() as an error code, to compare with std::errc.
  std::error_code errorCode() const { return platform::errorCodeFromNumber(_error); }
  void setError(int error) {
    _error = static_cast<std::uint16_t>(error);
    addMark(unreadable);
  }
  // Sub-items in listing order; empty unless a tree was built.
  const std::vector<std::shared_ptr<FileNode>>& children() const { return _children; }
  // For the one traversal that lists this node.
  void appendChild(std::shared_ptr<FileNode> child) { _children.push_back(std::move(child)); }
  void setChildren(std::vector<std::shared_ptr<FileNode>> children) { _children = std::move(children); }
  // The folder this node was found in; null for a scan root or once the parent is gone.
  std::shared_ptr<FileNode> parent() const { return _parent.lock(); }
  NodeType type() const { return _type; }

  // The last path component.
  const std::string& name() const { return _url.lastPathComponent(); }
  // The path extension, or the empty text.
  std::string fileExtension() const { return _url.pathExtension(); }
  // The platform's description of the item's type, read on each call; the empty text when it
  // cannot be read (the item is gone, for example).
  std::string kind() const;
  // The workspace's icon for the item; never absent.
  platform::Image icon() const;
  // Ancestors, nearest first; empty for a root.
  std::vector<std::shared_ptr<FileNode>> allParents() const;

  // Equal when the URLs are equal; size, type and position play no part.
  bool operator==(const FileNode& other) const { return _url == other._url; }
  std::size_t hash() const { return _url.hash(); }

  // The encoded form: a dictionary with "url" (URL text), "size", "children" (each child
  // encoded the same way), "parent" (the parent's URL text, or the empty text for none;
  // written as a reference, since the parent holds this node) and "type" (raw value).
  Value encode() const;
  // Reads what encode() writes; children get the decoded node as parent. A decoded root's
  // "parent" reference is not resolved (nothing would own it), so its parent is null.
  static Result<std::shared_ptr<FileNode>> decode(const Value& value);

 private:
  FileURL _url;
  std::atomic<std::int64_t> _size;
  std::vector<std::shared_ptr<FileNode>> _children;
  std::weak_ptr<FileNode> _parent;
  std::atomic<std::int64_t> _usage{0};
  NodeType _type;
  std::uint8_t _marks = 0;
  std::uint16_t _error = 0;
};

// Hash and equality by URL, for sets and maps of shared nodes.
struct FileNodeHash {
  std::size_t operator()(const std::shared_ptr<FileNode>& node) const noexcept { return node ? node->hash() : 0; }
};
struct FileNodeEqual {
  bool operator()(const std::shared_ptr<FileNode>& a, const std::shared_ptr<FileNode>& b) const noexcept {
    if (!a || !b) return a == b;
    return *a == *b;
  }
};

// Why decoding a node failed: a key is missing or holds a value of the wrong type.
class FileNodeDecodingError final : public Error {
 public:
  enum class Case { keyNotFound, typeMismatch, dataCorrupted };
  FileNodeDecodingError(Case errorCase, std::string key) : _case(errorCase), _key(std::move(key)) {}
  Case errorCase() const { return _case; }
  const std::string& key() const { return _key; }
  std::string typeName() const override { return "FileNodeDecodingError"; }
  std::string description() const override;

 private:
  Case _case;
  std::string _key;
};

}  // namespace vantelkit
