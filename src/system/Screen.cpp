#include "vantelkit/system/Screen.h"

#include <limits>

#include "vantelkit/platform/ImageCodec.h"

namespace vantelkit {

std::vector<Screen> Screen::screens() {
  std::vector<Screen> screens;
  for (const auto& info : platform::WindowServer::shared().screens()) {
    Value::Dictionary description{{std::string(screenNumberKey), Value(static_cast<std::int64_t>(info.displayNumber))},
                                  {"NSDeviceSize", Value::Dictionary{{"width", info.frame.size.width},
                                                                     {"height", info.frame.size.height}}}};
    screens.emplace_back(info.frame, std::move(description));
  }
  return screens;
}

std::optional<std::uint32_t> Screen::displayID() const {
  auto found = _deviceDescription.find(screenNumberKey);
  if (found == _deviceDescription.end()) return std::nullopt;
  auto number = found->second.integer();
  if (!number || *number < 0 || *number > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(*number);
}

bool isDesktopPictureWindow(const platform::WindowInfo& window, Rect screenFrame) {
  static constexpr std::string_view prefix = "Desktop Picture";
  return window.ownerName == "Dock" && window.name.compare(0, prefix.size(), prefix) == 0 &&
         window.bounds == screenFrame;
}

std::optional<platform::Image> Screen::desktopPicture() const {
  auto& server = platform::WindowServer::shared();
  for (const auto& window : server.onScreenWindows()) {
    if (!isDesktopPictureWindow(window, _frame)) continue;
    auto pixels = server.captureWindow(window.number);
    if (!pixels) return std::nullopt;
    auto png = platform::ImageCodec::shared().encode(*pixels, "png");
    if (!png) return std::nullopt;
    platform::Image image;
    image.representations.push_back({static_cast<int>(_frame.size.width), "png", std::move(*png)});
    return image;
  }
  return std::nullopt;
}

std::optional<Screen> screen(std::uint32_t displayID) {
  for (auto& candidate : Screen::screens()) {
    if (candidate.displayID() == displayID) return std::move(candidate);
  }
  return std::nullopt;
}

}  // namespace vantelkit
