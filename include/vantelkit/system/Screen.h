// Screens by display number, and a capture of the desktop picture a screen shows.
// Thread safety: Screen is a value type; screens(), screen() and desktopPicture() are safe from
// any thread (they ask the shared window server).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "vantelkit/foundation/Value.h"
#include "vantelkit/platform/Geometry.h"
#include "vantelkit/platform/Image.h"
#include "vantelkit/platform/WindowServer.h"

namespace vantelkit {

class Screen {
 public:
  // The key of the display number in the device description.
  static constexpr std::string_view screenNumberKey = "NSScreenNumber";

  Screen(Rect frame, Value::Dictionary deviceDescription)
      : _frame(frame), _deviceDescription(std::move(deviceDescription)) {}

  // The platform's screens, the main one first; empty without a display.
  static std::vector<Screen> screens();

  Rect frame() const { return _frame; }
  const Value::Dictionary& deviceDescription() const { return _deviceDescription; }
  // The display number: the unsigned 32-bit integer under "NSScreenNumber"; none when the
  // description has no such integer.
  std::optional<std::uint32_t> displayID() const;
  // The desktop picture shown on this screen: the first on-screen window owned by "Dock" whose
  // name begins with "Desktop Picture" and whose bounds equal this screen's frame, captured
  // (that window alone) as a PNG image of the frame's size. None without such a window or
  // when the capture fails.
  std::optional<platform::Image> desktopPicture() const;

  bool operator==(const Screen&) const = default;

 private:
  Rect _frame;
  Value::Dictionary _deviceDescription;
};

// The first screen of screens() whose displayID() is displayID, or none.
std::optional<Screen> screen(std::uint32_t displayID);

// Whether window is the desktop picture window of a screen with that frame.
bool isDesktopPictureWindow(const platform::WindowInfo& window, Rect screenFrame);

}  // namespace vantelkit
