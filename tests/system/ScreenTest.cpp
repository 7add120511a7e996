#include "vantelkit/system/Screen.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/FakePlatformLog.h"
#include "vantelkit/platform/ImageCodec.h"
#include "vantelkit/platform/Process.h"
#include "vantelkit/system/SystemTheme.h"

namespace vantelkit {
namespace {

using platform::RgbaPixels;
using platform::ScreenInfo;
using platform::WindowInfo;

RgbaPixels filled(int width, int height, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  RgbaPixels pixels{width, height, {}};
  for (int i = 0; i < width * height; ++i) pixels.bytes.insert(pixels.bytes.end(), {red, green, blue, 255});
  return pixels;
}

class FakeWindowServer final : public platform::WindowServer {
 public:
  std::vector<ScreenInfo> screens() override { return screenList; }
  std::vector<WindowInfo> onScreenWindows() override { return windows; }
  std::optional<RgbaPixels> captureWindow(std::uint32_t number) override {
    captured.push_back(number);
    return filled(4, 2, static_cast<std::uint8_t>(number), 0, 0);
  }

  std::vector<ScreenInfo> screenList;
  std::vector<WindowInfo> windows;
  std::vector<std::uint32_t> captured;
};

// The pixels of an image's one PNG representation.
std::optional<RgbaPixels> pixelsOf(const platform::Image& image) {
  if (image.representations.size() != 1 || image.representations[0].format != "png") return std::nullopt;
  const auto& data = image.representations[0].data;
  return platform::ImageCodec::shared().decode(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

// One pixel as "0xRRGGBB", for readable failures.
std::string rgbAt(const RgbaPixels& pixels, int x, int y) {
  const std::uint8_t* pixel = pixels.bytes.data() + (static_cast<std::size_t>(y) * pixels.width + x) * 4;
  return fmt::format("0x{:02x}{:02x}{:02x}", pixel[0], pixel[1], pixel[2]);
}

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::WindowServer::setShared(server); }
  void TearDown() override { platform::WindowServer::setShared(nullptr); }
  std::shared_ptr<FakeWindowServer> server = std::make_shared<FakeWindowServer>();
};

TEST_F(ScreenTest, FindsScreensByDisplayNumber) {
  server->screenList = {{69733378, "main", {{0, 0}, {1440, 900}}}, {7, "side", {{1440, 0}, {800, 600}}}};
  auto screens = Screen::screens();
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[0].displayID(), 69733378u);
  auto side = screen(7);
  ASSERT_TRUE(side);
  EXPECT_EQ(side->frame(), (Rect{{1440, 0}, {800, 600}}));
  EXPECT_FALSE(screen(8));

  EXPECT_FALSE(Screen({}, {{"NSScreenNumber", "7"}}).displayID());
  EXPECT_FALSE(Screen({}, {{"NSScreenNumber", std::int64_t{1} << 32}}).displayID());
  EXPECT_FALSE(Screen({}, {}).displayID());
}

TEST_F(ScreenTest, CapturesOnlyAWindowOfTheDockNamedAndPlacedAsTheDesktopPicture) {
  const Rect frame{{0, 0}, {1440, 900}};
  Screen main(frame, {{"NSScreenNumber", 1}});
  server->windows = {
      {11, "Finder", "Desktop Picture - main", frame},
      {12, "Dock", "Desktop Picture - main", {{0, 0}, {1440, 899}}},
      {13, "Dock", "Dock", frame},
      {14, "Dock", "desktop picture", frame},
  };
  EXPECT_FALSE(main.desktopPicture());
  EXPECT_TRUE(server->captured.empty());

  server->windows.push_back({20, "Dock", "Desktop Picture - Sequoia.heic", frame});
  server->windows.push_back({21, "Dock", "Desktop Picture", frame});
  auto picture = main.desktopPicture();
  ASSERT_TRUE(picture);
  EXPECT_EQ(server->captured, (std::vector<std::uint32_t>{20}));
  auto pixels = pixelsOf(*picture);
  ASSERT_TRUE(pixels);
  EXPECT_EQ(*pixels, filled(4, 2, 20, 0, 0));
  EXPECT_EQ(picture->representations[0].pixelsWide, 1440);
}

TEST_F(ScreenTest, TheThemeNotificationHasItsName) {
  EXPECT_EQ(systemThemeChangedNotification, "AppleInterfaceThemeChangedNotification");
}

// A real X server for the length of a test: Xvfb picks a free display and names it.
class XvfbScreenTest : public ::testing::Test {
 protected:
  virtual std::vector<std::string> serverOptions() const { return {}; }
  void SetUp() override {
    std::error_code error;
    if (!std::filesystem::exists("/usr/bin/Xvfb", error)) GTEST_SKIP() << "Xvfb is not installed";
    std::vector<std::string> arguments{"-displayfd", "1", "-screen", "0", "320x240x24", "-nolisten", "tcp", "-noreset",
                                       "-nocursor"};
    for (auto& option : serverOptions()) arguments.push_back(std::move(option));
    xvfb = platform::Subprocess::start("/usr/bin/Xvfb", arguments);
    auto number = xvfb ? xvfb->readLine(10) : std::nullopt;
    if (!number || number->empty()) GTEST_SKIP() << "Xvfb did not start";
    display = ":" + *number;
    platform::WindowServer::setShared(platform::WindowServer::x11(display));
  }
  void TearDown() override { platform::WindowServer::setShared(nullptr); }

  std::unique_ptr<platform::Subprocess> xvfb;
  std::string display;
};

TEST_F(XvfbScreenTest, ListsTheScreenAndCapturesTheMatchingWindow) {
  auto screens = Screen::screens();
  ASSERT_EQ(screens.size(), 1u);
  const Rect frame = screens[0].frame();
  EXPECT_EQ(frame, (Rect{{0, 0}, {320, 240}}));
  ASSERT_TRUE(screens[0].displayID());
  EXPECT_TRUE(screen(*screens[0].displayID()));
  EXPECT_FALSE(screen(*screens[0].displayID() + 1));

  // Windows that do not match: another owner over the whole screen, and the Dock's window
  // placed off the screen's frame.
  auto finder = platform::SimpleWindow::create(display, "Finder", "Desktop Picture", frame, 0x00ff00);
  auto offFrame = platform::SimpleWindow::create(display, "Dock", "Desktop Picture - small", {{10, 10}, {100, 80}}, 0xff0000);
  ASSERT_TRUE(finder && offFrame);
  EXPECT_FALSE(screens[0].desktopPicture());

  auto desktop = platform::SimpleWindow::create(display, "Dock", "Desktop Picture - Blue", frame, 0x3366cc);
  ASSERT_TRUE(desktop);
  auto windows = platform::WindowServer::shared().onScreenWindows();
  ASSERT_GE(windows.size(), 3u);
  EXPECT_EQ(windows[0], (WindowInfo{desktop->number(), "Dock", "Desktop Picture - Blue", frame})) << "front to back";
  EXPECT_EQ(windows[1], (WindowInfo{offFrame->number(), "Dock", "Desktop Picture - small", {{10, 10}, {100, 80}}}));

  auto picture = screens[0].desktopPicture();
  ASSERT_TRUE(picture);
  auto pixels = pixelsOf(*picture);
  ASSERT_TRUE(pixels);
  EXPECT_EQ(*pixels, filled(320, 240, 0x33, 0x66, 0xcc));
}

TEST_F(XvfbScreenTest, CapturesTheDesktopPictureUnderAWindowThatCoversIt) {
  auto screens = Screen::screens();
  ASSERT_EQ(screens.size(), 1u);
  auto desktop = platform::SimpleWindow::create(display, "Dock", "Desktop Picture - Blue", screens[0].frame(), 0x3366cc);
  auto cover = platform::SimpleWindow::create(display, "Finder", "Documents", {{20, 30}, {200, 150}}, 0xff8800);
  ASSERT_TRUE(desktop && cover);
  fakes::FakePlatformLog log;

  auto picture = screens[0].desktopPicture();
  ASSERT_TRUE(picture);
  auto pixels = pixelsOf(*picture);
  ASSERT_TRUE(pixels);
  EXPECT_EQ(rgbAt(*pixels, 100, 100), "0x3366cc") << "under the covering window";
  EXPECT_EQ(*pixels, filled(320, 240, 0x33, 0x66, 0xcc));
  EXPECT_TRUE(log.lines().empty());
}

// A display without Composite: the window's area is read from the screen, and the log says so.
class XvfbWithoutCompositeScreenTest : public XvfbScreenTest {
 protected:
  std::vector<std::string> serverOptions() const override { return {"-extension", "Composite"}; }
};

TEST_F(XvfbWithoutCompositeScreenTest, CapturesFromTheScreenAndSaysSo) {
  auto screens = Screen::screens();
  ASSERT_EQ(screens.size(), 1u);
  auto desktop = platform::SimpleWindow::create(display, "Dock", "Desktop Picture - Blue", screens[0].frame(), 0x3366cc);
  ASSERT_TRUE(desktop);
  fakes::FakePlatformLog log;

  auto picture = screens[0].desktopPicture();
  ASSERT_TRUE(picture);
  auto pixels = pixelsOf(*picture);
  ASSERT_TRUE(pixels);
  EXPECT_EQ(*pixels, filled(320, 240, 0x33, 0x66, 0xcc));
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("may include windows that cover it"), std::string::npos) << log.lines()[0];
}

}  // namespace
}  // namespace vantelkit
