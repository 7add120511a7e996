// One result element of a clean scan: a file or folder, or a named container of further
// items, with a size in bytes. Items are equal (and hash alike) by file URL, name and
// children; size and icon take no part, so a set keeps one item per file.
// Thread safety: one owner at a time; the scanner fills in sizes after creation, so share an
// item between threads only once it is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "vantelkit/platform/Image.h"
#include "vantelkit/scanning/FileNode.h"

namespace vantelkit {

class CleanScanItem {
 public:
  // size starts as the file node's size when file is given (a negative node size counts as
  // 0), otherwise as the sum of the children's sizes.
  explicit CleanScanItem(std::shared_ptr<FileNode> file = nullptr,
                         std::vector<std::shared_ptr<CleanScanItem>> children = {},
                         std::optional<std::string> name = std::nullopt,
                         std::optional<platform::Image> icon = std::nullopt);
  static std::shared_ptr<CleanScanItem> make(std::shared_ptr<FileNode> file = nullptr,
                                             std::vector<std::shared_ptr<CleanScanItem>> children = {},
                                             std::optional<std::string> name = std::nullopt,
                                             std::optional<platform::Image> icon = std::nullopt);
  CleanScanItem(const CleanScanItem&) = delete;
  CleanScanItem& operator=(const CleanScanItem&) = delete;

  // The file or folder the item stands for; null for a pure container.
  std::shared_ptr<FileNode> file;
  std::uint64_t size = 0;
  // Why the item may go, in a few words ("rotated log", "installer package"); none where the
  // group says it all. Takes no part in equality.
  std::optional<std::string> reason;
  // Sub-items of a container. Null entries are allowed and count as empty.
  std::vector<std::shared_ptr<CleanScanItem>> children;

  // The explicit name, else the last path component of the file, else none.
  std::optional<std::string> name() const;
  // The explicit icon, else the platform icon of the file (asked anew on every call),
  // else none.
  std::optional<platform::Image> icon() const;

  // Same file URL (or both without file), same name() (or both none), and pairwise equal
  // children in order.
  bool operator==(const CleanScanItem& other) const;
  // Consistent with ==: file URL, name() and children.
  std::size_t hash() const;

  // By size alone.
  friend bool operator<(const CleanScanItem& a, const CleanScanItem& b) { return a.size < b.size; }
  friend bool operator>(const CleanScanItem& a, const CleanScanItem& b) { return b < a; }
  friend bool operator<=(const CleanScanItem& a, const CleanScanItem& b) { return !(b < a); }
  friend bool operator>=(const CleanScanItem& a, const CleanScanItem& b) { return !(a < b); }

 private:
  std::optional<std::string> _name;
  std::optional<platform::Image> _icon;
};

// Hash and equality through the pointers, for sets of shared items.
struct CleanScanItemHash {
  std::size_t operator()(const std::shared_ptr<CleanScanItem>& item) const { return item ? item->hash() : 0; }
};
struct CleanScanItemEqual {
  bool operator()(const std::shared_ptr<CleanScanItem>& a, const std::shared_ptr<CleanScanItem>& b) const {
    if (!a || !b) return a == b;
    return *a == *b;
  }
};
using CleanScanItemSet = std::unordered_set<std::shared_ptr<CleanScanItem>, CleanScanItemHash, CleanScanItemEqual>;

}  // namespace vantelkit
