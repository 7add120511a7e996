#include "BundleBuilder.h"

#include <filesystem>

namespace vantelkit::testing {

std::string writeBundle(const std::string& path, const Value& info, PlistFormat format, bool shallow) {
  std::filesystem::create_directories(path);
  writeFile(path + (shallow ? "/Info.plist" : "/Contents/Info.plist"), propertyListBytes(info, format));
  return path;
}

Value::Dictionary applicationInfo(std::string_view identifier, std::string_view name, std::string_view version) {
  Value::Dictionary info{{"CFBundleIdentifier", Value(identifier)}, {"CFBundleName", Value(name)}};
  if (!version.empty()) info.emplace("CFBundleVersion", Value(version));
  return info;
}

}  // namespace vantelkit::testing
