#include "vantelkit/formats/Bundle.h"

#include <filesystem>

#include "foundation/internal/SmallFile.h"
#include "vantelkit/foundation/PropertyList.h"

namespace vantelkit {

std::optional<Value::Dictionary> Bundle::parseInfoDictionary(std::string_view bytes) {
  auto parsed = PropertyList::parse(bytes);
  if (!parsed) return std::nullopt;
  Value::Dictionary* dictionary = parsed->dictionary();
  if (dictionary == nullptr) return std::nullopt;
  return std::move(*dictionary);
}

std::optional<Bundle> Bundle::open(std::string_view path) {
  if (path.empty()) return std::nullopt;
  const std::filesystem::path folder(path);
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) return std::nullopt;
  for (const bool deep : {true, false}) {
    const auto infoPath = deep ? folder / "Contents" / "Info.plist" : folder / "Info.plist";
    auto bytes = internal::readRegularFile(infoPath, maximumInfoSize);
    if (!bytes) continue;
    auto info = parseInfoDictionary(*bytes);
    if (!info) return std::nullopt;
    return Bundle(std::string(path), deep, std::move(*info));
  }
  return std::nullopt;
}

std::string Bundle::resourcesPath() const {
  if (!_isDeep) return _path;
  return (std::filesystem::path(_path) / "Contents" / "Resources").string();
}

const Value* Bundle::objectForInfoDictionaryKey(std::string_view key) const {
  auto it = _info.find(key);
  return it == _info.end() ? nullptr : &it->second;
}

std::optional<std::string> Bundle::textForInfoDictionaryKey(std::string_view key) const {
  const Value* value = objectForInfoDictionaryKey(key);
  const std::string* text = value ? value->text() : nullptr;
  if (text == nullptr) return std::nullopt;
  return *text;
}

}  // namespace vantelkit
