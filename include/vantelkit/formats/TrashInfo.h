// The information file of a trashed item (".trashinfo" in a trash's info/ folder): the
// [Trash Info] group with the item's original path, percent-encoded and either absolute or
// relative to the top folder of the volume whose trash holds it, and its deletion date as
// YYYY-MM-DDThh:mm:ss in local time.
// Thread safety: pure functions over the given text; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vantelkit/platform/LocalTime.h"

namespace vantelkit {

struct TrashInfo {
  // Decoded; absolute, or relative to the volume's top folder.
  std::string path;
  // None when the file has no DeletionDate or an unusable one.
  std::optional<platform::LocalDateTime> deletionDate;

  // The absolute original path: path itself when absolute, else topFolder + "/" + path.
  std::string originalPath(std::string_view topFolder) const;
  bool operator==(const TrashInfo&) const = default;
};

// The [Trash Info] group of text; its first Path and DeletionDate count (keys of other groups,
// comments and lines without "=" are skipped). None when the group or its Path is missing or
// the Path is empty.
std::optional<TrashInfo> parseTrashInfo(std::string_view text);

// "%XX" sequences decoded to their bytes; a "%" not followed by two hexadecimal digits, and
// "%00", are kept as they are.
std::string percentDecoded(std::string_view text);

// A date of the form YYYY-MM-DDThh:mm:ss (nothing before or after, a real calendar day,
// hours below 24, minutes and seconds below 60 (a leap second's 60 allowed)); none otherwise.
std::optional<platform::LocalDateTime> parseTrashDeletionDate(std::string_view text);

}  // namespace vantelkit
