// The object type of a file system item, the last link not followed (lstat).
// Thread safety: safe to call from any thread.
#pragma once

#include <string_view>

namespace vantelkit::platform {

enum class FileObjectType { blockSpecial, charSpecial, directory, fifo, file, symbolicLink, socket, unknown };

// unknown when the item cannot be examined (missing, no permission).
FileObjectType fileObjectTypeNotFollowingLink(std::string_view path);

}  // namespace vantelkit::platform
