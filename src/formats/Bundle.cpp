#include "vantelkit/formats/Bundle.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "vantelkit/foundation/PropertyList.h"

namespace vantelkit {

namespace {

// The whole file, when path names a regular file (links followed) of at most limit bytes.
// A fifo or device is never opened, so reading cannot block.
std::optional<std::string> readRegularFile(const std::filesystem::path& path, std::uintmax_t limit) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size > limit) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(size));
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad() || bytes.size() > limit) return std::nullopt;
  return bytes;
}

}  // namespace

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
    auto bytes = readRegularFile(infoPath, maximumInfoSize);
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
