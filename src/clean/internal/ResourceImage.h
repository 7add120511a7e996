// Images of the library's own resources ("images/<name>.png").
// Thread safety: safe to call from any thread.
#pragma once

#include <string_view>

#include "vantelkit/platform/Image.h"

namespace vantelkit::internal {

// The image named name: its PNG representation (with the pixel width read from the PNG
// header) when the resource exists, and the name as its icon name in any case.
platform::Image resourceImage(std::string_view name);

}  // namespace vantelkit::internal
