// A bundle on disk: a folder whose "Contents/Info.plist" (or, for a shallow bundle, whose
// "Info.plist") is a property list (XML or binary) with a dictionary at the top. Its
// information dictionary is read once, when the bundle is opened.
// Thread safety: a value type; one owner at a time, const access from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vantelkit/foundation/Value.h"

namespace vantelkit {

class Bundle {
 public:
  // Information dictionaries larger than this are not read (the folder is no bundle then).
  static constexpr std::uintmax_t maximumInfoSize = std::uintmax_t{8} * 1024 * 1024;

  // The bundle at path, or none when path is no folder, has no readable regular file
  // "Contents/Info.plist" nor "Info.plist", or that file is not a property list with a
  // dictionary at the top. A deep bundle's "Contents/Info.plist" is preferred.
  static std::optional<Bundle> open(std::string_view path);
  // Reads an information dictionary from bytes as open() does: none unless the bytes are
  // a property list whose top level is a dictionary.
  static std::optional<Value::Dictionary> parseInfoDictionary(std::string_view bytes);

  const std::string& bundlePath() const { return _path; }
  // True for a bundle whose information is in "Contents/", false for a shallow one.
  bool isDeep() const { return _isDeep; }
  // "Contents/Resources" of a deep bundle, the folder itself for a shallow one.
  std::string resourcesPath() const;
  const Value::Dictionary& infoDictionary() const { return _info; }

  // The value for key, or null when the dictionary has no such key.
  const Value* objectForInfoDictionaryKey(std::string_view key) const;
  // The text for key; none when it is missing or of another type.
  std::optional<std::string> textForInfoDictionaryKey(std::string_view key) const;

 private:
  Bundle(std::string path, bool isDeep, Value::Dictionary info)
      : _path(std::move(path)), _isDeep(isDeep), _info(std::move(info)) {}

  std::string _path;
  bool _isDeep = false;
  Value::Dictionary _info;
};

}  // namespace vantelkit
