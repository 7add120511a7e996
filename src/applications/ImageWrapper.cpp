#include "vantelkit/applications/ImageWrapper.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "vantelkit/platform/ImageCodec.h"

namespace vantelkit {

namespace {

std::string_view asText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

ImageWrapper::ImageWrapper(std::span<const std::uint8_t> bytes) {
  auto info = platform::ImageCodec::shared().inspect(asText(bytes));
  if (!info) return;
  platform::Image decoded;
  decoded.representations.push_back({info->pixelsWide, info->format, {bytes.begin(), bytes.end()}});
  image = std::move(decoded);
}

std::optional<std::vector<std::uint8_t>> ImageWrapper::tiffRepresentation() const {
  if (!image) return std::nullopt;
  std::vector<const platform::ImageRepresentation*> widestFirst;
  for (const auto& representation : image->representations) widestFirst.push_back(&representation);
  std::stable_sort(widestFirst.begin(), widestFirst.end(),
                   [](const auto* a, const auto* b) { return a->pixelsWide > b->pixelsWide; });
  auto& codec = platform::ImageCodec::shared();
  for (const auto* representation : widestFirst) {
    const std::string_view bytes(reinterpret_cast<const char*>(representation->data.data()),
                                 representation->data.size());
    std::optional<int> width;
    if (representation->pixelsWide > 0) width = representation->pixelsWide;
    auto pixels = codec.decode(bytes, width);
    if (!pixels) continue;
    if (auto tiff = codec.encode(*pixels, "tiff")) return tiff;
  }
  return std::nullopt;
}

void encodeValue(EncodingContainer& container, const ImageWrapper& wrapper) {
  std::optional<Data> bytes;
  if (auto tiff = wrapper.tiffRepresentation()) bytes = Data(tiff->begin(), tiff->end());
  // A dictionary value has no null: without an image the key is left out, which reads back
  // as no image just the same.
  container.encode("image", bytes);
}

void decodeValue(const DecodingContainer& container, ImageWrapper& wrapper) {
  std::optional<Data> bytes;
  if (!container.decode("image", bytes)) return;
  const std::string description = bytes ? fmt::format("{} bytes", bytes->size()) : std::string("nil");
  std::fputs(fmt::format("Decoding image wrapper, got {}\n", description).c_str(), stdout);
  std::fflush(stdout);
  wrapper = bytes ? ImageWrapper(std::span<const std::uint8_t>(*bytes)) : ImageWrapper();
}

}  // namespace vantelkit
