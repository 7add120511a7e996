#include "platform/linux/GdkPixbufImageCodec.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>

namespace vantelkit::platform {

namespace {

struct ObjectRef {
  gpointer object = nullptr;
  ~ObjectRef() {
    if (object) g_object_unref(object);
  }
};

struct ErrorRef {
  GError* error = nullptr;
  ~ErrorRef() {
    if (error) g_error_free(error);
  }
};

// Runs bytes through a loader; the loader (with its pixbuf) on success, null otherwise. A
// loader that fails part-way has nothing to show: a truncated image is no image.
GdkPixbufLoader* load(std::string_view bytes, std::optional<int> pixelsWide) {
  if (bytes.empty() || bytes.size() > ImageCodec::maximumInputSize) return nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  if (pixelsWide && *pixelsWide > 0) {
    // Vector images render at the requested width; raster images are scaled below.
    g_signal_connect(loader, "size-prepared",
                     G_CALLBACK(+[](GdkPixbufLoader* self, gint width, gint height, gpointer data) {
                       const int wanted = GPOINTER_TO_INT(data);
                       if (width <= 0 || height <= 0) return;
                       const double scale = static_cast<double>(wanted) / width;
                       gdk_pixbuf_loader_set_size(self, wanted, std::max(1, static_cast<int>(height * scale + 0.5)));
                     }),
                     GINT_TO_POINTER(*pixelsWide));
  }
  ErrorRef writeError;
  const gboolean written = gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(bytes.data()),
                                                   bytes.size(), &writeError.error);
  ErrorRef closeError;
  const gboolean closed = gdk_pixbuf_loader_close(loader, written ? &closeError.error : nullptr);
  if (!written || !closed || !gdk_pixbuf_loader_get_pixbuf(loader)) {
    g_object_unref(loader);
    return nullptr;
  }
  return loader;
}

class GdkPixbufImageCodec final : public ImageCodec {
 public:
  std::optional<ImageInfo> inspect(std::string_view bytes) override {
    ObjectRef loader{load(bytes, std::nullopt)};
    if (!loader.object) return std::nullopt;
    auto* typed = GDK_PIXBUF_LOADER(loader.object);
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(typed);
    GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(typed);
    ImageInfo info;
    if (format) {
      gchar* name = gdk_pixbuf_format_get_name(format);
      if (name) info.format = name;
      g_free(name);
    }
    info.pixelsWide = gdk_pixbuf_get_width(pixbuf);
    info.pixelsHigh = gdk_pixbuf_get_height(pixbuf);
    return info;
  }

  std::optional<RgbaPixels> decode(std::string_view bytes, std::optional<int> pixelsWide) override {
    ObjectRef loader{load(bytes, pixelsWide)};
    if (!loader.object) return std::nullopt;
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(GDK_PIXBUF_LOADER(loader.object));
    ObjectRef scaled;
    if (pixelsWide && *pixelsWide > 0 && gdk_pixbuf_get_width(pixbuf) != *pixelsWide) {
      const double scale = static_cast<double>(*pixelsWide) / gdk_pixbuf_get_width(pixbuf);
      const int height = std::max(1, static_cast<int>(gdk_pixbuf_get_height(pixbuf) * scale + 0.5));
      scaled.object = gdk_pixbuf_scale_simple(pixbuf, *pixelsWide, height, GDK_INTERP_BILINEAR);
      if (!scaled.object) return std::nullopt;
      pixbuf = GDK_PIXBUF(scaled.object);
    }
    return pixelsOf(pixbuf);
  }

  std::optional<std::vector<std::uint8_t>> encode(const RgbaPixels& pixels, std::string_view format) override {
    if (format != "png" && format != "tiff") return std::nullopt;
    if (pixels.width <= 0 || pixels.height <= 0 || pixels.width > (1 << 15) || pixels.height > (1 << 15)) {
      return std::nullopt;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(pixels.width) * 4;
    if (pixels.bytes.size() != rowBytes * static_cast<std::size_t>(pixels.height)) return std::nullopt;
    // The pixbuf refers to the caller's bytes for the length of this call only.
    ObjectRef pixbuf{gdk_pixbuf_new_from_data(pixels.bytes.data(), GDK_COLORSPACE_RGB, TRUE, 8, pixels.width,
                                              pixels.height, static_cast<int>(rowBytes), nullptr, nullptr)};
    if (!pixbuf.object) return std::nullopt;
    gchar* buffer = nullptr;
    gsize size = 0;
    ErrorRef error;
    const std::string type(format);
    if (!gdk_pixbuf_save_to_buffer(GDK_PIXBUF(pixbuf.object), &buffer, &size, type.c_str(), &error.error,
                                   nullptr)) {
      g_free(buffer);
      return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(buffer), reinterpret_cast<std::uint8_t*>(buffer) + size);
    g_free(buffer);
    return bytes;
  }

 private:
  static std::optional<RgbaPixels> pixelsOf(GdkPixbuf* pixbuf) {
    if (gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB || gdk_pixbuf_get_bits_per_sample(pixbuf) != 8) {
      return std::nullopt;
    }
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    if (width <= 0 || height <= 0 || (channels != 3 && channels != 4)) return std::nullopt;
    const guchar* source = gdk_pixbuf_read_pixels(pixbuf);
    RgbaPixels pixels{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4)};
    for (int y = 0; y < height; ++y) {
      const guchar* row = source + static_cast<std::ptrdiff_t>(y) * stride;
      std::uint8_t* out = pixels.bytes.data() + static_cast<std::size_t>(y) * width * 4;
      for (int x = 0; x < width; ++x) {
        out[x * 4 + 0] = row[x * channels + 0];
        out[x * 4 + 1] = row[x * channels + 1];
        out[x * 4 + 2] = row[x * channels + 2];
        out[x * 4 + 3] = alpha ? row[x * channels + 3] : 0xff;
      }
    }
    return pixels;
  }
};

}  // namespace

std::shared_ptr<ImageCodec> makeGdkPixbufImageCodec() { return std::make_shared<GdkPixbufImageCodec>(); }

}  // namespace vantelkit::platform
