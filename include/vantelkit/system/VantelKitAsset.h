// The library's own named resources (embedded from resources/Assets/): images as
// "<name>.png", colours as "<name>.color" (JSON with "red", "green", "blue" and "alpha" from
// 0 to 1) and data as "<name>.data". They come from the library, never from the application.
// Thread safety: value types; loading is safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vantelkit/platform/Image.h"

namespace vantelkit {

struct Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;
  bool operator==(const Color&) const = default;
};

struct ImageAsset {
  std::string name;
  // The image of that name. An image asset that cannot be loaded is a programming error:
  // the process ends with "Unable to load image named <name>.".
  platform::Image image() const;
};

struct ColorAsset {
  std::string name;
  // None when there is no such colour or it cannot be read.
  std::optional<Color> color() const;
};

struct DataAsset {
  std::string name;
  std::optional<std::vector<std::uint8_t>> data() const;
};

namespace VantelKitAsset {
inline const ImageAsset emailAccountsIcon{"email-accounts-icon"};
inline const ImageAsset smallDownloadsIcon{"small-downloads-icon"};
}  // namespace VantelKitAsset

}  // namespace vantelkit
