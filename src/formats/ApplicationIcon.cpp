#include "vantelkit/formats/ApplicationIcon.h"

#include <filesystem>
#include <string>

#include "foundation/internal/SmallFile.h"
#include "vantelkit/formats/Bundle.h"
#include "vantelkit/formats/IcnsReader.h"
#include "vantelkit/platform/Workspace.h"

namespace vantelkit {

namespace {

constexpr std::string_view kGenericApplicationIconName = "application-x-executable";

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool isApplication(const Bundle& bundle) {
  std::string_view path = bundle.bundlePath();
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return endsWith(path, ".app") || bundle.textForInfoDictionaryKey("CFBundlePackageType") == "APPL";
}

platform::Image iconOf(const Bundle& bundle) {
  const platform::Image generic = genericApplicationIcon();
  auto name = bundle.textForInfoDictionaryKey("CFBundleIconFile");
  // The name is a file of the resources folder; anything that would leave it is ignored.
  if (!name || name->empty() || name->find('/') != std::string::npos || *name == "." || *name == "..") {
    return generic;
  }
  const std::filesystem::path resources(bundle.resourcesPath());
  std::optional<std::string> bytes;
  if (!endsWith(*name, ".icns")) bytes = internal::readRegularFile(resources / (*name + ".icns"), maximumIconFileSize);
  if (!bytes) bytes = internal::readRegularFile(resources / *name, maximumIconFileSize);
  if (!bytes) return generic;
  auto file = readIcns(*bytes);
  if (!file || file->pngRepresentations.empty()) return generic;
  // The application's own pictures carry no theme name: nothing may add the generic icon's
  // pixels to them.
  platform::Image icon;
  for (auto& png : file->pngRepresentations) {
    icon.representations.push_back({static_cast<int>(png.pixelsWide), "png", std::move(png.data)});
  }
  return icon;
}

}  // namespace

platform::Image genericApplicationIcon() {
  platform::Image icon;
  icon.iconName = std::string(kGenericApplicationIconName);
  return icon;
}

bool isApplicationBundle(std::string_view path) {
  auto bundle = Bundle::open(path);
  return bundle && isApplication(*bundle);
}

std::optional<platform::Image> applicationBundleIcon(std::string_view path) {
  auto bundle = Bundle::open(path);
  if (!bundle || !isApplication(*bundle)) return std::nullopt;
  return iconOf(*bundle);
}

platform::Image iconForFile(std::string_view path) {
  if (auto icon = applicationBundleIcon(path)) return std::move(*icon);
  platform::Image icon = platform::Workspace::shared().iconForFile(path);
  if (icon.isEmpty()) icon.iconName = "text-x-generic";
  return icon;
}

}  // namespace vantelkit
