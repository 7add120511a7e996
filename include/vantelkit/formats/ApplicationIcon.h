// Icons of application bundles: the ".icns" file that the bundle's information names, read
// with our own chunk reader, or the generic application icon; for any other item the
// workspace's icon of its content type.
// Thread safety: every function is safe to call from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "vantelkit/platform/Image.h"

namespace vantelkit {

// Icon files larger than this are not read.
inline constexpr std::uintmax_t maximumIconFileSize = std::uintmax_t{64} * 1024 * 1024;

// The theme icon of an application without an icon of its own.
platform::Image genericApplicationIcon();

// True for a bundle (see Bundle) whose folder name ends in ".app" or whose
// "CFBundlePackageType" is "APPL".
bool isApplicationBundle(std::string_view path);

// The icon of the application bundle at path: the PNG representations, in file order, of
// "Contents/Resources/<CFBundleIconFile>" (".icns" added when the name lacks it), without an
// icon name; the generic application icon (a name without pictures) when there is no icon
// file with at least one PNG representation. None when path is no application bundle.
std::optional<platform::Image> applicationBundleIcon(std::string_view path);

// applicationBundleIcon(path), else the shared workspace's icon for path. Never empty.
platform::Image iconForFile(std::string_view path);

}  // namespace vantelkit
