// Image decoding and encoding: whether bytes are an image (and which format and size), their
// pixels, and pixels written as PNG or TIFF. The default instance uses the platform's image
// library; tests may install their own.
// Thread safety: every member is safe to call from any thread; install a replacement before
// concurrent use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantelkit::platform {

struct ImageInfo {
  // The format's short name ("png", "jpeg", "tiff", "svg", "gif", ...).
  std::string format;
  int pixelsWide = 0;
  int pixelsHigh = 0;
  bool operator==(const ImageInfo&) const = default;
};

// Pixels as 8-bit red, green, blue and alpha, row after row without padding.
struct RgbaPixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bytes;
  bool operator==(const RgbaPixels&) const = default;
};

class ImageCodec {
 public:
  // Inputs larger than this are no image.
  static constexpr std::size_t maximumInputSize = std::size_t{64} * 1024 * 1024;

  virtual ~ImageCodec() = default;

  // The shared instance (the platform's unless replaced).
  static ImageCodec& shared();
  // Replaces the shared instance; null restores the platform's.
  static void setShared(std::shared_ptr<ImageCodec> codec);

  // The format and pixel size of bytes when they decode as a whole image; none otherwise.
  virtual std::optional<ImageInfo> inspect(std::string_view bytes) = 0;
  // The pixels of bytes, scaled to pixelsWide (height in proportion) when given (the way to
  // render a vector image at a size); none when they are no image.
  virtual std::optional<RgbaPixels> decode(std::string_view bytes, std::optional<int> pixelsWide = std::nullopt) = 0;
  // The pixels encoded as format ("png" or "tiff"); none for an unknown format, pixels whose
  // byte count does not match their size, or a failure of the encoder.
  virtual std::optional<std::vector<std::uint8_t>> encode(const RgbaPixels& pixels, std::string_view format) = 0;
};

}  // namespace vantelkit::platform
