// A dictionary-like value tree: text, integer, real, boolean, date, data, array, dictionary
// (and the keyed-archive object reference). Property lists, dictionary coding and keyed
// archives all read and write it.
// Thread safety: a value type; one owner at a time, const access from any thread.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantelkit {

// A point in time as seconds since 1970-01-01T00:00:00Z.
struct Date {
  double secondsSince1970 = 0;
  auto operator<=>(const Date&) const = default;
};

// A reference to an object of a keyed archive (a property-list UID).
struct ArchiveUid {
  std::uint64_t value = 0;
  auto operator<=>(const ArchiveUid&) const = default;
};

using Data = std::vector<std::uint8_t>;

class Value {
 public:
  using Array = std::vector<Value>;
  using Dictionary = std::map<std::string, Value, std::less<>>;
  enum class Type { text, integer, real, boolean, date, data, array, dictionary, uid };

  // An empty text.
  Value() = default;
  Value(std::string text) : _storage(std::move(text)) {}
  Value(std::string_view text) : _storage(std::string(text)) {}
  Value(const char* text) : _storage(std::string(text)) {}
  Value(std::int64_t integer) : _storage(integer) {}
  Value(int integer) : _storage(std::int64_t{integer}) {}
  Value(double real) : _storage(real) {}
  Value(bool boolean) : _storage(boolean) {}
  Value(Date date) : _storage(date) {}
  Value(Data data) : _storage(std::move(data)) {}
  Value(Array array) : _storage(std::move(array)) {}
  Value(Dictionary dictionary) : _storage(std::move(dictionary)) {}
  Value(ArchiveUid uid) : _storage(uid) {}

  Type type() const { return static_cast<Type>(_storage.index()); }

  // Type-checked access: null (or none) when the value is of another type.
  const std::string* text() const { return std::get_if<std::string>(&_storage); }
  std::optional<std::int64_t> integer() const;
  std::optional<double> real() const;
  // An integer or a real, as a double.
  std::optional<double> number() const;
  std::optional<bool> boolean() const;
  std::optional<Date> date() const;
  const Data* data() const { return std::get_if<Data>(&_storage); }
  const Array* array() const { return std::get_if<Array>(&_storage); }
  Array* array() { return std::get_if<Array>(&_storage); }
  const Dictionary* dictionary() const { return std::get_if<Dictionary>(&_storage); }
  Dictionary* dictionary() { return std::get_if<Dictionary>(&_storage); }
  std::optional<ArchiveUid> uid() const;

  // The member of a dictionary value, or null when this is no dictionary or has no such key.
  const Value* find(std::string_view key) const;
  // Shortcuts for a typed member of a dictionary: none when absent or of another type.
  const std::string* textFor(std::string_view key) const;
  std::optional<std::int64_t> integerFor(std::string_view key) const;
  std::optional<bool> booleanFor(std::string_view key) const;
  const Dictionary* dictionaryFor(std::string_view key) const;
  const Array* arrayFor(std::string_view key) const;

  bool operator==(const Value& other) const = default;

 private:
  std::variant<std::string, std::int64_t, double, bool, Date, Data, Array, Dictionary, ArchiveUid> _storage;
};

// The name of a value type, for messages: "text", "integer", ...
std::string_view valueTypeName(Value::Type type);

}  // namespace vantelkit
