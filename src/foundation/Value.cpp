#include "vantelkit/foundation/Value.h"

namespace vantelkit {

std::optional<std::int64_t> Value::integer() const {
  if (auto* v = std::get_if<std::int64_t>(&_storage)) return *v;
  return std::nullopt;
}

std::optional<double> Value::real() const {
  if (auto* v = std::get_if<double>(&_storage)) return *v;
  return std::nullopt;
}

std::optional<double> Value::number() const {
  if (auto* v = std::get_if<double>(&_storage)) return *v;
  if (auto* v = std::get_if<std::int64_t>(&_storage)) return static_cast<double>(*v);
  return std::nullopt;
}

std::optional<bool> Value::boolean() const {
  if (auto* v = std::get_if<bool>(&_storage)) return *v;
  return std::nullopt;
}

std::optional<Date> Value::date() const {
  if (auto* v = std::get_if<Date>(&_storage)) return *v;
  return std::nullopt;
}

std::optional<ArchiveUid> Value::uid() const {
  if (auto* v = std::get_if<ArchiveUid>(&_storage)) return *v;
  return std::nullopt;
}

const Value* Value::find(std::string_view key) const {
  auto* dict = dictionary();
  if (!dict) return nullptr;
  auto it = dict->find(key);
  return it == dict->end() ? nullptr : &it->second;
}

const std::string* Value::textFor(std::string_view key) const {
  auto* v = find(key);
  return v ? v->text() : nullptr;
}

std::optional<std::int64_t> Value::integerFor(std::string_view key) const {
  auto* v = find(key);
  return v ? v->integer() : std::nullopt;
}

std::optional<bool> Value::booleanFor(std::string_view key) const {
  auto* v = find(key);
  return v ? v->boolean() : std::nullopt;
}

const Value::Dictionary* Value::dictionaryFor(std::string_view key) const {
  auto* v = find(key);
  return v ? v->dictionary() : nullptr;
}

const Value::Array* Value::arrayFor(std::string_view key) const {
  auto* v = find(key);
  return v ? v->array() : nullptr;
}

std::string_view valueTypeName(Value::Type type) {
  switch (type) {
    case Value::Type::text: return "text";
    case Value::Type::integer: return "integer";
    case Value::Type::real: return "real";
    case Value::Type::boolean: return "boolean";
    case Value::Type::date: return "date";
    case Value::Type::data: return "data";
    case Value::Type::array: return "array";
    case Value::Type::dictionary: return "dictionary";
    case Value::Type::uid: return "uid";
  }
  return "unknown";
}

}  // namespace vantelkit
