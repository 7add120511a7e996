// The thumbnails of a clean scan: the size folders of the thumbnail cache
// ($XDG_CACHE_HOME/thumbnails/normal, large, x-large, xx-large) and the failed attempts below
// its fail/ folder (one folder per thumbnailer), and the same below the older ~/.thumbnails
// when it exists. Each thumbnail is read for its "Thumb::URI": a file:// original that no
// longer exists makes it orphaned. The address is taken as it is, never moved under the root
// override: it names a file of the machine that made the thumbnail.
// Outputs, when either cache folder exists, one container "Thumbnails" (like all its
// containers, without a file: a host acting on it acts on the thumbnails, never on the whole
// cache) holding the containers "Orphaned thumbnails" (reason "thumbnail of a file that no
// longer exists") and "Thumbnails of existing files" (reason "thumbnail of an existing file",
// or "thumbnail of a non-local file" for an address other than a local file://, which cannot
// be checked), then, when they hold anything, "Failed thumbnails" ("failed thumbnail attempt")
// and "Unreadable thumbnails" ("unreadable thumbnail": a corrupt or truncated PNG, or one
// without a Thumb::URI). An original whose status cannot be read (a folder on its way that is
// closed to the user) counts as existing. A thumbnail that cannot be opened is in unreadable(),
// not an item. Nothing is written; links are never followed. The procedure never fails.
// Thread safety: as GroupProcedure. The output is set on the main queue, which the host must
// drain; read it once the procedure has finished.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/clean/CleanScanItem.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/scanning/DiskScanResult.h"

namespace vantelkit {

class ThumbnailScanProcedure : public GroupProcedure, public OutputProcedure<CleanScanItemSet> {
 public:
  // What a thumbnail's original is, as far as its address tells.
  enum class Original {
    existing,  // a local file that exists (or whose status cannot be read)
    missing,   // a local file that no longer exists
    nonLocal,  // another scheme, or a file:// address of another host
    unknown,   // no address: the thumbnail cannot be read
  };

  // The cache folders are those of the home folder now. measuresUsage: sizes are the bytes
  // allocated on disk instead of logical sizes.
  explicit ThumbnailScanProcedure(bool measuresUsage = false);

  // $XDG_CACHE_HOME/thumbnails and home + "/.thumbnails", whether they exist or not.
  static std::vector<std::string> thumbnailFolders();

  // The local path of a file:// address ("file:///a%20b" gives "/a b"; the host may be empty
  // or "localhost"); none for any other address.
  static std::optional<std::string> localPathOfURI(std::string_view uri);
  // What the original at uri is now (none: the thumbnail names no address).
  static Original originalOf(const std::optional<std::string>& uri);

  bool measuresUsage() const { return _measuresUsage; }

  using Unreadable = std::vector<DiskScanResult::UnreadableEntry>;
  // What the walks and the thumbnail reads could not read; complete once finished.
  Unreadable unreadable() const;

 private:
  void addUnreadable(const Unreadable& entries);

  const bool _measuresUsage;
  mutable std::mutex _mutex;
  Unreadable _unreadable;  // guarded by _mutex
};

}  // namespace vantelkit
