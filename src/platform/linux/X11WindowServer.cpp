// Screens and windows of an X11 display through libxcb: RandR outputs for the screens, the
// root window's viewable children for the windows, a window's own pixmap (Composite) for a
// capture.
#include <fmt/format.h>
#include <xcb/composite.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "vantelkit/platform/PlatformLog.h"
#include "vantelkit/platform/WindowServer.h"

namespace vantelkit::platform {

namespace {

template <class T>
struct Reply {
  T* reply = nullptr;
  ~Reply() { std::free(reply); }
  T* operator->() const { return reply; }
  explicit operator bool() const { return reply != nullptr; }
};

// One connection for the length of a call.
class Connection {
 public:
  explicit Connection(const std::optional<std::string>& displayName) {
    int screenNumber = 0;
    _connection = xcb_connect(displayName ? displayName->c_str() : nullptr, &screenNumber);
    if (xcb_connection_has_error(_connection)) return;
    auto iterator = xcb_setup_roots_iterator(xcb_get_setup(_connection));
    for (int i = 0; i < screenNumber && iterator.rem; ++i) xcb_screen_next(&iterator);
    if (iterator.rem) _screen = iterator.data;
  }
  ~Connection() {
    if (_connection) xcb_disconnect(_connection);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool isOpen() const { return _connection && !xcb_connection_has_error(_connection) && _screen; }
  xcb_connection_t* get() const { return _connection; }
  xcb_screen_t* screen() const { return _screen; }

  xcb_atom_t atom(const char* name) const {
    Reply<xcb_intern_atom_reply_t> reply{
        xcb_intern_atom_reply(_connection, xcb_intern_atom(_connection, 0, std::strlen(name), name), nullptr)};
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  }

  std::optional<std::string> property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) const {
    Reply<xcb_get_property_reply_t> reply{
        xcb_get_property_reply(_connection, xcb_get_property(_connection, 0, window, name, type, 0, 4096), nullptr)};
    if (!reply || reply->format != 8 || reply->type == XCB_ATOM_NONE) return std::nullopt;
    const int length = xcb_get_property_value_length(reply.reply);
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.reply)), static_cast<std::size_t>(length));
  }

 private:
  xcb_connection_t* _connection = nullptr;
  xcb_screen_t* _screen = nullptr;
};

struct ClientWindow {
  xcb_window_t window;
  std::string className;
  std::string name;
};

// The client window at or just below a top-level window (a window manager's frame holds it).
std::optional<ClientWindow> clientOf(const Connection& connection, xcb_window_t window, xcb_atom_t utf8, xcb_atom_t netName,
                                     int depth = 0) {
  if (auto wmClass = connection.property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING)) {
    // "instance\0class\0": the class names the application.
    const std::size_t split = wmClass->find('\0');
    std::string className = split == std::string::npos ? *wmClass : wmClass->substr(split + 1);
    if (!className.empty() && className.back() == '\0') className.pop_back();
    auto name = connection.property(window, netName, utf8);
    if (!name) name = connection.property(window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY);
    return ClientWindow{window, std::move(className), name.value_or("")};
  }
  if (depth > 0) return std::nullopt;
  Reply<xcb_query_tree_reply_t> tree{
      xcb_query_tree_reply(connection.get(), xcb_query_tree(connection.get(), window), nullptr)};
  if (!tree) return std::nullopt;
  const xcb_window_t* children = xcb_query_tree_children(tree.reply);
  for (int i = 0; i < xcb_query_tree_children_length(tree.reply); ++i) {
    if (auto client = clientOf(connection, children[i], utf8, netName, depth + 1)) return client;
  }
  return std::nullopt;
}

std::optional<Rect> boundsOf(const Connection& connection, xcb_window_t window) {
  Reply<xcb_get_geometry_reply_t> geometry{
      xcb_get_geometry_reply(connection.get(), xcb_get_geometry(connection.get(), window), nullptr)};
  if (!geometry) return std::nullopt;
  Reply<xcb_translate_coordinates_reply_t> origin{xcb_translate_coordinates_reply(
      connection.get(), xcb_translate_coordinates(connection.get(), window, connection.screen()->root, 0, 0), nullptr)};
  if (!origin) return std::nullopt;
  return Rect{{static_cast<double>(origin->dst_x), static_cast<double>(origin->dst_y)},
              {static_cast<double>(geometry->width), static_cast<double>(geometry->height)}};
}

class X11WindowServer final : public WindowServer {
 public:
  explicit X11WindowServer(std::optional<std::string> displayName) : _displayName(std::move(displayName)) {}

  std::vector<ScreenInfo> screens() override {
    Connection connection(_displayName);
    if (!connection.isOpen()) return {};
    std::vector<ScreenInfo> screens = randrScreens(connection);
    if (screens.empty()) {
      // Without RandR outputs the whole X screen is the one screen.
      const auto* screen = connection.screen();
      screens.push_back({0, "screen", {{0, 0}, {static_cast<double>(screen->width_in_pixels),
                                                 static_cast<double>(screen->height_in_pixels)}}});
    }
    return screens;
  }

  std::vector<WindowInfo> onScreenWindows() override {
    Connection connection(_displayName);
    if (!connection.isOpen()) return {};
    const xcb_atom_t utf8 = connection.atom("UTF8_STRING");
    const xcb_atom_t netName = connection.atom("_NET_WM_NAME");
    Reply<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(
        connection.get(), xcb_query_tree(connection.get(), connection.screen()->root), nullptr)};
    if (!tree) return {};
    std::vector<WindowInfo> windows;
    const xcb_window_t* children = xcb_query_tree_children(tree.reply);
    const int count = xcb_query_tree_children_length(tree.reply);
    // The tree lists children bottom to top; the list goes front to back.
    for (int i = count - 1; i >= 0; --i) {
      Reply<xcb_get_window_attributes_reply_t> attributes{xcb_get_window_attributes_reply(
          connection.get(), xcb_get_window_attributes(connection.get(), children[i]), nullptr)};
      if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
          attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT) {
        continue;
      }
      auto bounds = boundsOf(connection, children[i]);
      if (!bounds) continue;
      auto client = clientOf(connection, children[i], utf8, netName);
      windows.push_back({children[i], client ? client->className : std::string(),
                         client ? client->name : std::string(), *bounds});
    }
    return windows;
  }

  std::optional<RgbaPixels> captureWindow(std::uint32_t number) override {
    Connection connection(_displayName);
    if (!connection.isOpen()) return std::nullopt;
    xcb_connection_t* c = connection.get();
    // An unmapped window has no pixels to read, redirected or not.
    Reply<xcb_get_window_attributes_reply_t> attributes{
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, number), nullptr)};
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) return std::nullopt;
    auto format = pixelFormatOf(connection, attributes->visual);
    Reply<xcb_get_geometry_reply_t> geometry{xcb_get_geometry_reply(c, xcb_get_geometry(c, number), nullptr)};
    if (!format || !geometry || geometry->width == 0 || geometry->height == 0) return std::nullopt;

    if (!hasWindowPixmaps(connection)) {
      platformLog(fmt::format("Window {:#x} captured from the screen (the display has no Composite extension): "
                              "the capture may include windows that cover it",
                              number));
      return readImage(connection, number, 0, 0, geometry->width, geometry->height, *format);
    }
    // Redirected, the window keeps its own pixels off screen whatever covers it, and its pixmap
    // (of the window's depth, border included) can be read. Automatic redirection still shows it
    // as before; ending ours leaves a compositing manager's redirection in place. A window that
    // was not redirected yet gets its background painted at once; what its owner draws comes
    // with the owner's answer to the exposure, so the covered part of a window without a
    // background holds the screen's pixels until then.
    if (Reply<xcb_generic_error_t> error{xcb_request_check(
            c, xcb_composite_redirect_window_checked(c, number, XCB_COMPOSITE_REDIRECT_AUTOMATIC))}) {
      return std::nullopt;
    }
    std::optional<RgbaPixels> pixels;
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    Reply<xcb_generic_error_t> error{
        xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, number, pixmap))};
    if (!error) {
      pixels = readImage(connection, pixmap, static_cast<std::int16_t>(geometry->border_width),
                         static_cast<std::int16_t>(geometry->border_width), geometry->width, geometry->height, *format);
      xcb_free_pixmap(c, pixmap);
    }
    xcb_composite_unredirect_window(c, number, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    xcb_flush(c);
    return pixels;
  }

 private:
  // Where a TrueColor visual keeps each 8-bit channel in a pixel.
  struct PixelFormat {
    int redShift;
    int greenShift;
    int blueShift;
  };

  // The format of a visual of the screen with 8 bits a channel; none for any other visual.
  static std::optional<PixelFormat> pixelFormatOf(const Connection& connection, xcb_visualid_t visual) {
    auto shiftOf = [](std::uint32_t mask) -> std::optional<int> {
      const int shift = std::countr_zero(mask);
      if (shift > 24 || mask != 0xffu << shift) return std::nullopt;
      return shift;
    };
    for (auto depths = xcb_screen_allowed_depths_iterator(connection.screen()); depths.rem; xcb_depth_next(&depths)) {
      for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem; xcb_visualtype_next(&visuals)) {
        const xcb_visualtype_t* type = visuals.data;
        if (type->visual_id != visual) continue;
        auto red = shiftOf(type->red_mask);
        auto green = shiftOf(type->green_mask);
        auto blue = shiftOf(type->blue_mask);
        if (type->_class != XCB_VISUAL_CLASS_TRUE_COLOR || !red || !green || !blue) return std::nullopt;
        return PixelFormat{*red, *green, *blue};
      }
    }
    return std::nullopt;
  }

  // Whether the display can name a redirected window's pixmap (Composite 0.2 or later).
  static bool hasWindowPixmaps(const Connection& connection) {
    const auto* extension = xcb_get_extension_data(connection.get(), &xcb_composite_id);
    if (!extension || !extension->present) return false;
    Reply<xcb_composite_query_version_reply_t> version{xcb_composite_query_version_reply(
        connection.get(), xcb_composite_query_version(connection.get(), 0, 4), nullptr)};
    return version && (version->major_version > 0 || version->minor_version >= 2);
  }

  // The pixels of a rectangle of a window or pixmap of 32-bit pixels; none when it cannot be read.
  static std::optional<RgbaPixels> readImage(const Connection& connection, xcb_drawable_t drawable, std::int16_t x,
                                             std::int16_t y, std::uint16_t width, std::uint16_t height,
                                             PixelFormat format) {
    xcb_connection_t* c = connection.get();
    Reply<xcb_get_image_reply_t> image{
        xcb_get_image_reply(c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, x, y, width, height, ~0u), nullptr)};
    const xcb_setup_t* setup = xcb_get_setup(c);
    if (!image || bitsPerPixel(setup, image->depth) != 32) return std::nullopt;
    const std::size_t count = std::size_t{width} * height;
    if (static_cast<std::size_t>(xcb_get_image_data_length(image.reply)) < count * 4) return std::nullopt;
    const std::uint8_t* data = xcb_get_image_data(image.reply);
    const bool leastSignificantFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    RgbaPixels pixels{width, height, std::vector<std::uint8_t>(count * 4)};
    // Rows of 32-bit pixels need no padding.
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* in = data + i * 4;
      const std::uint32_t pixel =
          leastSignificantFirst
              ? in[0] | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 | std::uint32_t{in[3]} << 24
              : in[3] | std::uint32_t{in[2]} << 8 | std::uint32_t{in[1]} << 16 | std::uint32_t{in[0]} << 24;
      std::uint8_t* out = pixels.bytes.data() + i * 4;
      out[0] = static_cast<std::uint8_t>(pixel >> format.redShift);
      out[1] = static_cast<std::uint8_t>(pixel >> format.greenShift);
      out[2] = static_cast<std::uint8_t>(pixel >> format.blueShift);
      out[3] = 0xff;
    }
    return pixels;
  }

  static int bitsPerPixel(const xcb_setup_t* setup, std::uint8_t depth) {
    auto formats = xcb_setup_pixmap_formats_iterator(setup);
    for (; formats.rem; xcb_format_next(&formats)) {
      if (formats.data->depth == depth) return formats.data->bits_per_pixel;
    }
    return 0;
  }

  static std::vector<ScreenInfo> randrScreens(const Connection& connection) {
    std::vector<ScreenInfo> screens;
    const auto* extension = xcb_get_extension_data(connection.get(), &xcb_randr_id);
    if (!extension || !extension->present) return screens;
    Reply<xcb_randr_get_screen_resources_current_reply_t> resources{xcb_randr_get_screen_resources_current_reply(
        connection.get(), xcb_randr_get_screen_resources_current(connection.get(), connection.screen()->root),
        nullptr)};
    if (!resources) return screens;
    Reply<xcb_randr_get_output_primary_reply_t> primary{xcb_randr_get_output_primary_reply(
        connection.get(), xcb_randr_get_output_primary(connection.get(), connection.screen()->root), nullptr)};
    const xcb_randr_output_t* outputs = xcb_randr_get_screen_resources_current_outputs(resources.reply);
    const int count = xcb_randr_get_screen_resources_current_outputs_length(resources.reply);
    for (int i = 0; i < count; ++i) {
      Reply<xcb_randr_get_output_info_reply_t> output{xcb_randr_get_output_info_reply(
          connection.get(), xcb_randr_get_output_info(connection.get(), outputs[i], resources->config_timestamp),
          nullptr)};
      if (!output || output->connection != XCB_RANDR_CONNECTION_CONNECTED || output->crtc == XCB_NONE) continue;
      Reply<xcb_randr_get_crtc_info_reply_t> crtc{xcb_randr_get_crtc_info_reply(
          connection.get(), xcb_randr_get_crtc_info(connection.get(), output->crtc, resources->config_timestamp),
          nullptr)};
      if (!crtc || crtc->width == 0 || crtc->height == 0) continue;
      std::string name(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(output.reply)),
                       static_cast<std::size_t>(xcb_randr_get_output_info_name_length(output.reply)));
      ScreenInfo screen{outputs[i], std::move(name),
                        {{static_cast<double>(crtc->x), static_cast<double>(crtc->y)},
                         {static_cast<double>(crtc->width), static_cast<double>(crtc->height)}}};
      if (primary && primary->output == outputs[i]) {
        screens.insert(screens.begin(), std::move(screen));
      } else {
        screens.push_back(std::move(screen));
      }
    }
    return screens;
  }

  const std::optional<std::string> _displayName;
};

class X11SimpleWindow final : public SimpleWindow {
 public:
  X11SimpleWindow(std::unique_ptr<Connection> connection, xcb_window_t window)
      : _connection(std::move(connection)), _window(window) {}
  ~X11SimpleWindow() override {
    xcb_destroy_window(_connection->get(), _window);
    xcb_flush(_connection->get());
  }
  std::uint32_t number() const override { return _window; }

 private:
  std::unique_ptr<Connection> _connection;
  xcb_window_t _window;
};

std::mutex serverMutex;
std::shared_ptr<WindowServer>& installedServer() {
  static std::shared_ptr<WindowServer> server;  // guarded by serverMutex
  return server;
}

}  // namespace

WindowServer& WindowServer::shared() {
  std::lock_guard lock(serverMutex);
  auto& installed = installedServer();
  if (!installed) installed = x11();
  return *installed;
}

void WindowServer::setShared(std::shared_ptr<WindowServer> server) {
  std::lock_guard lock(serverMutex);
  installedServer() = std::move(server);
}

std::shared_ptr<WindowServer> WindowServer::x11(std::optional<std::string> displayName) {
  return std::make_shared<X11WindowServer>(std::move(displayName));
}

std::unique_ptr<SimpleWindow> SimpleWindow::create(std::optional<std::string> displayName, std::string ownerName,
                                                   std::string name, Rect frame, std::uint32_t rgb) {
  auto connection = std::make_unique<Connection>(displayName);
  if (!connection->isOpen() || frame.size.width < 1 || frame.size.height < 1) return nullptr;
  xcb_connection_t* c = connection->get();
  const xcb_screen_t* screen = connection->screen();
  const xcb_window_t window = xcb_generate_id(c);
  // Override-redirect: placed exactly where asked, whatever a window manager would do.
  const std::uint32_t values[] = {rgb & 0xffffffu, 1};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, static_cast<std::int16_t>(frame.origin.x),
                    static_cast<std::int16_t>(frame.origin.y), static_cast<std::uint16_t>(frame.size.width),
                    static_cast<std::uint16_t>(frame.size.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
  std::string wmClass = ownerName + '\0' + ownerName + '\0';
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      static_cast<std::uint32_t>(wmClass.size()), wmClass.data());
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                      static_cast<std::uint32_t>(name.size()), name.data());
  xcb_map_window(c, window);
  xcb_clear_area(c, 0, window, 0, 0, 0, 0);
  xcb_flush(c);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    Reply<xcb_get_window_attributes_reply_t> attributes{
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr)};
    if (!attributes) return nullptr;
    if (attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
      return std::make_unique<X11SimpleWindow>(std::move(connection), window);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  xcb_destroy_window(c, window);
  return nullptr;
}

}  // namespace vantelkit::platform
