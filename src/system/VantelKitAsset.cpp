#include "vantelkit/system/VantelKitAsset.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>

#include "vantelkit/platform/ImageCodec.h"
#include "vantelkit/platform/Resources.h"

namespace vantelkit {

namespace {

std::optional<std::string_view> asset(const std::string& name, std::string_view extension) {
  if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
  return platform::embeddedResource("Assets/" + name + std::string(extension));
}

}  // namespace

platform::Image ImageAsset::image() const {
  auto bytes = asset(name, ".png");
  std::optional<platform::ImageInfo> info;
  if (bytes) info = platform::ImageCodec::shared().inspect(*bytes);
  if (!info) {
    std::fprintf(stderr, "Unable to load image named %s.\n", name.c_str());
    std::fflush(stderr);
    std::abort();
  }
  platform::Image image;
  image.representations.push_back({info->pixelsWide, info->format, {bytes->begin(), bytes->end()}});
  return image;
}

std::optional<Color> ColorAsset::color() const {
  auto bytes = asset(name, ".color");
  if (!bytes) return std::nullopt;
  auto json = nlohmann::json::parse(*bytes, nullptr, false);
  if (!json.is_object()) return std::nullopt;
  Color color;
  const auto component = [&json](const char* key, double& out, bool required) {
    auto found = json.find(key);
    if (found == json.end()) return !required;
    if (!found->is_number()) return false;
    const double value = found->get<double>();
    if (!(value >= 0 && value <= 1)) return false;
    out = value;
    return true;
  };
  if (!component("red", color.red, true) || !component("green", color.green, true) ||
      !component("blue", color.blue, true) || !component("alpha", color.alpha, false)) {
    return std::nullopt;
  }
  return color;
}

std::optional<std::vector<std::uint8_t>> DataAsset::data() const {
  auto bytes = asset(name, ".data");
  if (!bytes) return std::nullopt;
  return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

}  // namespace vantelkit
