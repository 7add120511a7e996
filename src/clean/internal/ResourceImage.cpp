#include "clean/internal/ResourceImage.h"

#include <string>

#include "vantelkit/platform/Resources.h"

namespace vantelkit::internal {

namespace {

// The width field of a PNG's IHDR chunk, which follows the 8-byte signature, the chunk
// length and its type.
int pngWidth(std::string_view bytes) {
  static constexpr std::string_view signature = "\x89PNG\r\n\x1a\n";
  if (bytes.size() < 24 || bytes.substr(0, 8) != signature || bytes.substr(12, 4) != "IHDR") return 0;
  std::uint32_t width = 0;
  for (std::size_t k = 16; k < 20; ++k) width = (width << 8) | static_cast<unsigned char>(bytes[k]);
  return width > 1'000'000 ? 0 : static_cast<int>(width);
}

}  // namespace

platform::Image resourceImage(std::string_view name) {
  platform::Image image;
  image.iconName = std::string(name);
  if (auto bytes = platform::embeddedResource("images/" + std::string(name) + ".png")) {
    image.representations.push_back({pngWidth(*bytes), "png", std::vector<std::uint8_t>(bytes->begin(), bytes->end())});
  }
  return image;
}

}  // namespace vantelkit::internal
