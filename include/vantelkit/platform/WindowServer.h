// The screens and on-screen windows of the display: each screen with its number and frame,
// each top-level window with its number, owner, name and bounds, and a capture of one window's
// pixels. The default instance asks the X11 display named by the environment when one is
// reachable, and knows no screens or windows otherwise; tests may install their own.
// Thread safety: every member is safe to call from any thread; install a replacement before
// concurrent use.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vantelkit/platform/Geometry.h"
#include "vantelkit/platform/ImageCodec.h"

namespace vantelkit::platform {

struct ScreenInfo {
  std::uint32_t displayNumber = 0;
  std::string name;
  Rect frame;
  bool operator==(const ScreenInfo&) const = default;
};

struct WindowInfo {
  std::uint32_t number = 0;
  // The owning application's name (on X11, the class of WM_CLASS).
  std::string ownerName;
  std::string name;
  Rect bounds;
  bool operator==(const WindowInfo&) const = default;
};

class WindowServer {
 public:
  virtual ~WindowServer() = default;

  // The shared instance (the environment's display unless replaced).
  static WindowServer& shared();
  // Replaces the shared instance; null restores the default.
  static void setShared(std::shared_ptr<WindowServer> server);
  // A window server for the X11 display of that name (":1"); the environment's when none.
  static std::shared_ptr<WindowServer> x11(std::optional<std::string> displayName = std::nullopt);

  // The screens, the main one first; empty when no display is reachable.
  virtual std::vector<ScreenInfo> screens() = 0;
  // The windows shown on screen, front to back.
  virtual std::vector<WindowInfo> onScreenWindows() = 0;
  // The pixels of the window with that number, its own even where other windows cover it;
  // none when it is gone, unmapped or cannot be read. A display that cannot keep a window's
  // pixels apart gives what the screen shows in its area, and the platform log says so.
  virtual std::optional<RgbaPixels> captureWindow(std::uint32_t number) = 0;
};

}  // namespace vantelkit::platform

namespace vantelkit::platform {

// A plain top-level window filled with one colour, on an X11 display: what a host without a
// toolkit (or a test) shows as a desktop picture window. It stays until destroyed.
// Thread safety: one owner at a time.
class SimpleWindow {
 public:
  // Shows the window and waits until it is on screen; null when the display cannot be reached.
  // rgb: 0xRRGGBB.
  static std::unique_ptr<SimpleWindow> create(std::optional<std::string> displayName, std::string ownerName,
                                              std::string name, Rect frame, std::uint32_t rgb);
  virtual ~SimpleWindow() = default;
  virtual std::uint32_t number() const = 0;
};

}  // namespace vantelkit::platform
