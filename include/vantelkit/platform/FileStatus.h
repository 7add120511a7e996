// The object type and modification time of a file system item, the last link not followed
// (lstat).
// Thread safety: safe to call from any thread.
#pragma once

#include <optional>
#include <string_view>

namespace vantelkit::platform {

enum class FileObjectType { blockSpecial, charSpecial, directory, fifo, file, symbolicLink, socket, unknown };

// unknown when the item cannot be examined (missing, no permission).
FileObjectType fileObjectTypeNotFollowingLink(std::string_view path);

// When the item's content last changed, in seconds since 1970-01-01T00:00:00Z (fractions
// included); none when the item cannot be examined.
std::optional<double> fileModificationTimeNotFollowingLink(std::string_view path);

}  // namespace vantelkit::platform
