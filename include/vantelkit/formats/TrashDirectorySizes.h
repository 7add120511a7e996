// The "directorysizes" cache at the top of a trash folder: one line per trashed folder with
// its size in bytes (the disk space it takes, as du -B1 counts it), the modification time of
// its information file in seconds since 1970, and its name in files/, percent-encoded,
// separated by single spaces.
// Thread safety: pure function over the given text; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantelkit {

struct TrashDirectorySize {
  std::uint64_t size = 0;
  std::int64_t informationModificationTime = 0;
  // Decoded.
  std::string name;
  bool operator==(const TrashDirectorySize&) const = default;
};

// The lines of text in order; a line that is not two decimal numbers and a name (a name with
// a "/", or empty, included) is skipped.
std::vector<TrashDirectorySize> parseTrashDirectorySizes(std::string_view text);

}  // namespace vantelkit
