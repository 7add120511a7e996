#include "platform/linux/GioWorkspace.h"

#include <gio/gio.h>

#include <string>

namespace vantelkit::platform {

namespace {

// Frees a GLib string or object when it leaves scope.
struct GFreeString {
  gchar* text = nullptr;
  ~GFreeString() { g_free(text); }
};
struct GUnref {
  gpointer object = nullptr;
  ~GUnref() {
    if (object) g_object_unref(object);
  }
};

std::optional<std::string> firstThemedName(GIcon* icon) {
  if (!icon || !G_IS_THEMED_ICON(icon)) return std::nullopt;
  const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
  if (!names || !names[0]) return std::nullopt;
  return std::string(names[0]);
}

class GioWorkspace final : public Workspace {
 public:
  std::string localizedTypeDescription(std::string_view path) override {
    std::string pathText(path);
    GUnref file{g_file_new_for_path(pathText.c_str())};
    GUnref info{g_file_query_info(G_FILE(file.object), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                  G_FILE_QUERY_INFO_NONE, nullptr, nullptr)};
    if (!info.object) return {};
    const char* contentType = g_file_info_get_content_type(G_FILE_INFO(info.object));
    if (!contentType) return {};
    GFreeString description{g_content_type_get_description(contentType)};
    return description.text ? std::string(description.text) : std::string();
  }

  std::string localizedName(std::string_view path) override {
    std::string pathText(path);
    GUnref file{g_file_new_for_path(pathText.c_str())};
    GUnref info{g_file_query_info(G_FILE(file.object), G_FILE_ATTRIBUTE_STANDARD_DISPLAY_NAME,
                                  G_FILE_QUERY_INFO_NONE, nullptr, nullptr)};
    const char* name = info.object ? g_file_info_get_display_name(G_FILE_INFO(info.object)) : nullptr;
    if (name && *name) return name;
    return Workspace::localizedName(path);
  }

  Image iconForFile(std::string_view path) override {
    std::string pathText(path);
    GUnref file{g_file_new_for_path(pathText.c_str())};
    GUnref info{g_file_query_info(G_FILE(file.object), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                  G_FILE_QUERY_INFO_NONE, nullptr, nullptr)};
    std::string contentType;
    if (info.object) {
      const char* type = g_file_info_get_content_type(G_FILE_INFO(info.object));
      if (type) contentType = type;
    }
    if (contentType.empty()) {
      // A missing item gets the icon its name suggests, as a document of that type would.
      gboolean uncertain = FALSE;
      GFreeString guessed{g_content_type_guess(pathText.c_str(), nullptr, 0, &uncertain)};
      if (guessed.text) contentType = guessed.text;
    }
    Image image;
    if (!contentType.empty()) {
      GUnref icon{g_content_type_get_icon(contentType.c_str())};
      image.iconName = firstThemedName(G_ICON(icon.object));
    }
    if (!image.iconName) image.iconName = "text-x-generic";
    return image;
  }
};

}  // namespace

std::shared_ptr<Workspace> makeGioWorkspace() { return std::make_shared<GioWorkspace>(); }

}  // namespace vantelkit::platform
