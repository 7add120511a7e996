// A codable holder of an optional image. It codes as one key, "image", holding the image as
// TIFF bytes (left out without an image, as a dictionary value cannot hold null; an absent or
// null "image" decodes as no image); decoding makes the image from those bytes.
// Thread safety: a value type; one owner at a time, const access from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "vantelkit/foundation/DictionaryDecoder.h"
#include "vantelkit/foundation/DictionaryEncoder.h"
#include "vantelkit/platform/Image.h"

namespace vantelkit {

struct ImageWrapper {
  ImageWrapper() = default;
  explicit ImageWrapper(std::optional<platform::Image> image) : image(std::move(image)) {}
  // The image that bytes hold, with them as its one representation (its format and pixel
  // width as the image library reads them); no image when the bytes are not an image.
  explicit ImageWrapper(std::span<const std::uint8_t> bytes);

  // The image as TIFF: its widest representation that decodes (an SVG rendered at its
  // width), re-encoded. None without an image or when nothing of it decodes.
  std::optional<std::vector<std::uint8_t>> tiffRepresentation() const;

  std::optional<platform::Image> image;
  bool operator==(const ImageWrapper&) const = default;
};

void encodeValue(EncodingContainer& container, const ImageWrapper& wrapper);
// Also prints "Decoding image wrapper, got " and the bytes' description to standard output.
void decodeValue(const DecodingContainer& container, ImageWrapper& wrapper);

}  // namespace vantelkit
