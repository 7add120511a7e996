#include "vantelkit/system/Defaults.h"

#include "vantelkit/foundation/PropertyList.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/platform/Process.h"

namespace vantelkit {

UserDefaults& UserDefaults::standard() {
  static UserDefaults* defaults = new UserDefaults(std::filesystem::path(platform::Paths::inHome(".config/vantelkit")) /
                                                   (platform::currentProcessName() + ".plist"));
  return *defaults;
}

UserDefaults::UserDefaults(std::filesystem::path file) : _file(std::move(file)) {
  auto loaded = PropertyList::load(_file);
  if (loaded && *loaded) _values = std::move(**loaded);
}

std::optional<Value> UserDefaults::object(std::string_view key) const {
  std::lock_guard lock(_mutex);
  auto found = _values.find(key);
  if (found == _values.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> UserDefaults::text(std::string_view key) const {
  auto value = object(key);
  if (!value || !value->text()) return std::nullopt;
  return *value->text();
}

std::optional<std::int64_t> UserDefaults::integer(std::string_view key) const {
  auto value = object(key);
  return value ? value->integer() : std::nullopt;
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const {
  auto value = object(key);
  return value ? value->boolean() : std::nullopt;
}

bool UserDefaults::set(std::string_view key, std::optional<Value> value) {
  std::lock_guard lock(_mutex);
  if (value) {
    _values.insert_or_assign(std::string(key), std::move(*value));
  } else {
    auto found = _values.find(key);
    if (found != _values.end()) _values.erase(found);
  }
  return write();
}

Value::Dictionary UserDefaults::dictionaryRepresentation() const {
  std::lock_guard lock(_mutex);
  return _values;
}

bool UserDefaults::write() {
  std::error_code error;
  std::filesystem::create_directories(_file.parent_path(), error);
  return static_cast<bool>(PropertyList::save(_values, _file));
}

}  // namespace vantelkit
