// The icon of a file at a point size, and an icon given pictures at a set of sizes.
// Thread safety: safe to call from any thread.
#pragma once

#include <optional>
#include <vector>

#include "vantelkit/applications/IconTheme.h"
#include "vantelkit/platform/Image.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

// The icon of the item at url (an application bundle's own icon, else the workspace's).
// With a point size: an image holding just the first representation whose pixel width
// equals it exactly, or the whole icon when there is none. Never empty.
platform::Image fileIcon(const FileURL& url, std::optional<int> pointSize = std::nullopt);

// icon with a picture at each of sizes (pixel widths) where one can be had, from one source
// only: an icon with pictures of its own (an application's) keeps them and gets each width
// it lacks scaled, as PNG, from the nearest of them (the narrowest wider one, else the
// widest); a named icon without pictures (a document's, or the generic icon of an
// application without one) gets theme's files of its name (IconTheme::iconWithPixels).
// A width that no picture decodes for stays missing.
platform::Image iconWithSizes(platform::Image icon, const std::vector<int>& sizes = IconTheme::standardSizes(),
                              const IconTheme& theme = IconTheme::shared());

}  // namespace vantelkit
