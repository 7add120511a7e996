// An image as the workspace hands it out: a named theme icon, and encoded representations
// of given pixel widths where the image has them.
// Thread safety: a value type; one owner at a time, const access from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantelkit::platform {

struct ImageRepresentation {
  int pixelsWide = 0;
  // The encoding of data ("png", "svg", ...).
  std::string format;
  std::vector<std::uint8_t> data;

  bool operator==(const ImageRepresentation&) const = default;
};

struct Image {
  // The icon theme's name for the image ("text-plain", "folder"), when it is a named icon.
  std::optional<std::string> iconName;
  std::vector<ImageRepresentation> representations;

  // The representation of exactly that width, or null.
  const ImageRepresentation* representation(int pixelsWide) const {
    for (const auto& r : representations)
      if (r.pixelsWide == pixelsWide) return &r;
    return nullptr;
  }
  bool isEmpty() const { return !iconName && representations.empty(); }
  bool operator==(const Image&) const = default;
};

}  // namespace vantelkit::platform
