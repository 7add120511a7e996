#include "vantelkit/applications/FileIcon.h"

#include <algorithm>
#include <string_view>

#include "vantelkit/formats/ApplicationIcon.h"
#include "vantelkit/platform/ImageCodec.h"

namespace vantelkit {

namespace {

// icon's picture at pixelsWide, scaled from the first of its pictures that decodes, in the
// order of least loss: the narrowest of those wider than that, then the widest of the rest.
std::optional<platform::ImageRepresentation> scaledRepresentation(const platform::Image& icon, int pixelsWide) {
  std::vector<const platform::ImageRepresentation*> sources;
  for (const auto& representation : icon.representations) {
    if (representation.pixelsWide > 0) sources.push_back(&representation);
  }
  std::stable_sort(sources.begin(), sources.end(), [pixelsWide](const auto* a, const auto* b) {
    const bool aWider = a->pixelsWide > pixelsWide;
    const bool bWider = b->pixelsWide > pixelsWide;
    if (aWider != bWider) return aWider;
    return aWider ? a->pixelsWide < b->pixelsWide : a->pixelsWide > b->pixelsWide;
  });
  auto& codec = platform::ImageCodec::shared();
  for (const auto* source : sources) {
    const std::string_view bytes(reinterpret_cast<const char*>(source->data.data()), source->data.size());
    auto pixels = codec.decode(bytes, pixelsWide);
    if (!pixels) continue;
    auto png = codec.encode(*pixels, "png");
    if (!png) continue;
    return platform::ImageRepresentation{pixelsWide, "png", std::move(*png)};
  }
  return std::nullopt;
}

}  // namespace

platform::Image fileIcon(const FileURL& url, std::optional<int> pointSize) {
  platform::Image icon = iconForFile(url.path());
  if (!pointSize) return icon;
  for (auto& representation : icon.representations) {
    if (representation.pixelsWide == *pointSize) {
      platform::Image sized;
      sized.representations.push_back(std::move(representation));
      return sized;
    }
  }
  return icon;
}

platform::Image iconWithSizes(platform::Image icon, const std::vector<int>& sizes, const IconTheme& theme) {
  if (icon.representations.empty()) return theme.iconWithPixels(std::move(icon), sizes);
  // Scaled from the pictures the icon came with, never from one scaled here.
  std::vector<platform::ImageRepresentation> scaled;
  for (int size : sizes) {
    const bool present = icon.representation(size) != nullptr ||
                         std::any_of(scaled.begin(), scaled.end(), [size](const auto& r) { return r.pixelsWide == size; });
    if (size <= 0 || present) continue;
    if (auto representation = scaledRepresentation(icon, size)) scaled.push_back(std::move(*representation));
  }
  for (auto& representation : scaled) icon.representations.push_back(std::move(representation));
  return icon;
}

}  // namespace vantelkit
