// The icon of a file at a point size.
// Thread safety: safe to call from any thread.
#pragma once

#include <optional>

#include "vantelkit/platform/Image.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

// The icon of the item at url (an application bundle's own icon, else the workspace's).
// With a point size: an image holding just the first representation whose pixel width
// equals it exactly, or the whole icon when there is none. Never empty.
platform::Image fileIcon(const FileURL& url, std::optional<int> pointSize = std::nullopt);

}  // namespace vantelkit
