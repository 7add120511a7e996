// What an interactive browser of a disk map shows and does, without a terminal: the folder
// being looked at, its entries filtered (hidden names, excluded folders) and sorted (size,
// name, item count, modification time, change against an earlier map), the selected row and
// the rows scrolled into view; keys as ncdu users know them; and the map kept true in place
// when an entry is moved away (to the trash) or comes back.
// Thread safety: one owner at a time. The browser changes the sizes of the map it is given
// (when an entry is removed or restored), so nothing else may read that map meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/foundation/Result.h"
#include "vantelkit/platform/Trash.h"
#include "vantelkit/scanning/DiskMap.h"

namespace vantelkit {

// Why an entry may not be moved or removed.
class DiskMapBrowserError final : public Error {
 public:
  enum class Case {
    scanRoot,         // the folder that was scanned itself
    alreadyRemoved,   // it, or a folder above it, was removed already
    unsafeName,       // a name on its path is empty, ".", ".." or holds "/"
    linkOnPath,       // a folder on its path is no longer a folder (a link or gone)
    changedOnDisk,    // the entry is gone or of another type than the map says
    trashFailed,      // the trash refused it (reason() says why)
    restoreFailed,    // it could not be put back (reason() says why)
    removeFailed,     // it, or some of what it holds, could not be removed (reason())
  };
  DiskMapBrowserError(Case kind, std::string path, std::string reason = {})
      : _case(kind), _path(std::move(path)), _reason(std::move(reason)) {}
  Case kind() const { return _case; }
  const std::string& path() const { return _path; }
  // The system's reason, for the last three cases.
  const std::string& reason() const { return _reason; }
  std::string typeName() const override { return "DiskMapBrowserError"; }
  // The case name.
  std::string description() const override;
  // What is wrong, in words, naming the path.
  std::string localizedDescription() const override;

 private:
  Case _case;
  std::string _path;
  std::string _reason;
};

class DiskMapBrowser {
 public:
  using Index = DiskMap::Index;

  enum class SortKey { size, name, itemCount, modified, change };
  // What a key asks of the host, beyond what the browser does itself.
  enum class Action {
    none,               // done by the browser (or nothing to do)
    quit,               // q
    interrupt,          // Ctrl-C
    help,               // ?
    details,            // i: about the selected entry
    rescan,             // r
    trash,              // d: move the selected entry to the trash
    restore,            // u: the list of what was moved to the trash
    removePermanently,  // D
  };
  // How an entry compares with the earlier map given to compareWith().
  struct Change {
    enum class Kind { same, grew, shrank, appeared };
    Kind kind = Kind::same;
    std::int64_t difference = 0;  // in what measure() measures; the whole size when appeared
    bool operator==(const Change&) const = default;
  };

  explicit DiskMapBrowser(std::shared_ptr<DiskMap> map);
  DiskMapBrowser(const DiskMapBrowser&) = delete;
  DiskMapBrowser& operator=(const DiskMapBrowser&) = delete;

  const DiskMap& map() const { return *_map; }
  const std::shared_ptr<DiskMap>& sharedMap() const { return _map; }

  // The folder shown, and its entries as shown: filtered and sorted.
  Index folder() const { return _folder; }
  const std::vector<Index>& rows() const { return _rows; }
  // The selected row (0 when there are none), and its entry.
  std::size_t cursor() const { return _cursor; }
  std::optional<Index> selected() const;
  // The first row in view, with pageRows rows in view (the cursor always among them).
  std::size_t top() const { return _top; }
  void setPageRows(std::size_t rows);
  std::size_t pageRows() const { return _pageRows; }

  // Handles a key (a character, or a platform::TextScreen::Key): moving (arrows, j/k, page
  // keys, Home/End), opening (Enter, Right, l) and leaving (Left, Backspace, h, <) folders,
  // sorting (s n C M, and c when comparing; the same key again reverses), a (disk usage or
  // apparent size), . (hidden names) and e (excluded folders); answers what the host must do.
  Action press(int key);

  void moveBy(std::ptrdiff_t rows);
  void moveToFirst();
  void moveToLast();
  // Into the selected folder; false when it is not a folder.
  bool open();
  // To the folder above, with the folder left selected; false at the root.
  bool goUp();
  // Opens the folder at a path below the root ("a/b"), as far as it exists; for a new map
  // after a rescan. Answers whether the whole path was found.
  bool openPath(std::string_view relativePath);
  // Selects the entry among the rows; false when it is not there.
  bool select(Index entry);

  // Sorts by key: a new key in its own direction (names A to Z, the others largest first),
  // the same key again reversed. change only while comparing.
  void sortBy(SortKey key);
  SortKey sortKey() const { return _sortKey; }
  bool sortReversed() const { return _reversed; }

  bool showsHidden() const { return _showHidden; }
  void setShowsHidden(bool show);
  bool showsExcluded() const { return _showExcluded; }
  void setShowsExcluded(bool show);
  // Sizes as bytes allocated on disk (the default) or as apparent (logical) sizes.
  bool showsDiskUsage() const { return _diskUsage; }
  void setShowsDiskUsage(bool usage);

  // An entry's size as shown: its usage or its size.
  std::int64_t measure(Index entry) const;
  // Entries below a folder (0 for anything else), removed ones not counted.
  std::uint64_t itemCount(Index entry) const { return _counts[entry]; }
  // A name starting with "."; a folder left out of the scan (cache, other or kernel file
  // system).
  bool isHidden(Index entry) const;
  bool isExcluded(Index entry) const;

  // Where modification times come from (asked once per entry shown or sorted by them); the
  // browser has none until given one.
  void setModificationTimeSource(std::function<std::optional<double>(Index)> source);
  std::optional<double> modificationTime(Index entry);

  // Compares every entry with the entry at the same path in before (the roots matched
  // whatever their names); an entry of another type there counts as appeared.
  void compareWith(const DiskMap& before);
  bool isComparing() const { return !_before.empty(); }
  // None unless comparing.
  std::optional<Change> change(Index entry) const;

  // The path of entry after checking the disk: every folder from the root down is still a
  // folder (no link), every name a plain name, and the entry itself still of its type (a
  // link stays a link, and is what would be removed). For a move to the trash or a removal.
  Result<std::string> pathForRemoval(Index entry) const;
  // Takes entry out of the rows and its size and item count out of every folder above it.
  void markRemoved(Index entry);
  // Puts back an entry markRemoved() took out; selects it when it is in the folder shown.
  void markRestored(Index entry);
  bool isRemoved(Index entry) const { return _removed[entry]; }

  // What this browser moved to the trash, oldest first. entry is none for an item moved by
  // an earlier browser (see takeTrashedFrom()).
  struct Trashed {
    std::optional<Index> entry;
    platform::Trash::Item item;
    std::int64_t size = 0;  // as measure() gave it then
  };
  const std::vector<Trashed>& trashed() const { return _trashed; }
  // Moves the selected entry to trash after pathForRemoval() and takes it out of the map;
  // the map stays as it was on failure. Answers what was moved.
  Result<Trashed> trashSelected(platform::Trash& trash);
  // Puts trashed()[which] back and into the map; it leaves the list. On failure both stay.
  Result<Trashed> restore(std::size_t which, platform::Trash& trash);
  // Removes the selected entry for good after pathForRemoval(); it leaves the map only when
  // nothing of it is left on disk.
  Result<std::string> removeSelectedPermanently(platform::Trash& trash);
  // Keeps the list of another browser (of an earlier map of the same folder, before a
  // rescan), its entries no longer known.
  void takeTrashedFrom(DiskMapBrowser& earlier);

 private:
  void rebuildRows(std::optional<Index> keep);
  void sortRows();
  void keepCursorInView();
  bool isShown(Index entry) const;
  void adjustAncestors(Index entry, std::int64_t size, std::int64_t usage, std::int64_t count);

  std::shared_ptr<DiskMap> _map;
  Index _folder = DiskMap::rootIndex;
  std::vector<Index> _rows;
  std::size_t _cursor = 0;
  std::size_t _top = 0;
  std::size_t _pageRows = 20;
  SortKey _sortKey = SortKey::size;
  bool _reversed = false;
  bool _showHidden = true;
  bool _showExcluded = true;
  bool _diskUsage = true;
  std::vector<std::uint32_t> _counts;
  std::vector<bool> _removed;
  std::function<std::optional<double>(Index)> _modificationTimeSource;
  std::unordered_map<Index, std::optional<double>> _modificationTimes;
  // While comparing: each entry's size and usage in the earlier map (kAppeared when new).
  std::vector<std::int64_t> _before;
  std::vector<std::int64_t> _beforeUsage;
  std::vector<Trashed> _trashed;
  // A map without names in order: the children of _nameOrderFolder by name, kept for its
  // next sort.
  std::vector<Index> _nameOrder;
  std::optional<Index> _nameOrderFolder;
};

}  // namespace vantelkit
