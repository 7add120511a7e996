#include "vantelkit/foundation/DictionaryDecoder.h"

#include <bit>
#include <cmath>
#include <limits>

#include <fmt/core.h>
#include <nlohmann/json.hpp>

#include "foundation/internal/CodingText.h"
#include "foundation/internal/Utf8.h"

namespace vantelkit {

namespace coding_detail {

struct DecodingContext {
  const DictionaryDecoder& decoder;
  ErrorPtr error;  // the first failure
};

}  // namespace coding_detail

namespace {

using Code = CodingError::Code;
using nlohmann::json;

using internal::indexPath;
using internal::kReferenceDateOffset;
using internal::memberPath;

// Dates, data and archive UIDs that the dictionary holds as such travel through the JSON
// tree as tagged binary values, so that they are read back exactly whatever the strategies.
enum BinarySubtype : std::uint64_t { dateSubtype = 1, dataSubtype = 2, uidSubtype = 3 };



std::optional<BinarySubtype> subtypeOf(const json& node) {
  if (!node.is_binary() || !node.get_binary().has_subtype()) return std::nullopt;
  return static_cast<BinarySubtype>(node.get_binary().subtype());
}

std::uint64_t bitsOf(const json& node) {
  const auto& bytes = node.get_binary();
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < bytes.size() && i < 8; ++i) bits = bits << 8 | bytes[i];
  return bits;
}

json binaryOf(std::uint64_t bits, BinarySubtype subtype) {
  std::vector<std::uint8_t> bytes(8);
  for (int i = 0; i < 8; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  return json::binary(std::move(bytes), subtype);
}

std::string_view typeNameOf(const json& node) {
  switch (node.type()) {
    case json::value_t::null: return "null";
    case json::value_t::object: return "dictionary";
    case json::value_t::array: return "array";
    case json::value_t::string: return "text";
    case json::value_t::boolean: return "boolean";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned: return "integer";
    case json::value_t::number_float: return "real";
    case json::value_t::binary:
      switch (subtypeOf(node).value_or(dataSubtype)) {
        case dateSubtype: return "date";
        case uidSubtype: return "keyed-archive UID";
        default: return "data";
      }
    default: return "value";
  }
}

Result<json> toJson(const Value& value, const std::string& path);

// The serialise step: the dictionary as a JSON tree.
Result<json> toJsonObject(const Value::Dictionary& dictionary, const std::string& path) {
  json object = json::object();
  for (const auto& [key, member] : dictionary) {
    if (!internal::isValidUtf8(key)) return makeCodingError(Code::invalidValue, "key is not UTF-8", path);
    auto node = toJson(member, memberPath(path, key));
    if (!node) return node.error();
    object[key] = std::move(node).value();
  }
  return object;
}

Result<json> toJson(const Value& value, const std::string& path) {
  switch (value.type()) {
    case Value::Type::text:
      if (!internal::isValidUtf8(*value.text())) return makeCodingError(Code::invalidValue, "text is not UTF-8", path);
      return json(*value.text());
    case Value::Type::integer: return json(*value.integer());
    case Value::Type::real: return json(*value.real());
    case Value::Type::boolean: return json(*value.boolean());
    case Value::Type::date:
      return binaryOf(std::bit_cast<std::uint64_t>(value.date()->secondsSince1970), dateSubtype);
    case Value::Type::data: return json::binary(*value.data(), dataSubtype);
    case Value::Type::uid: return binaryOf(value.uid()->value, uidSubtype);
    case Value::Type::array: {
      json array = json::array();
      std::size_t index = 0;
      for (const Value& element : *value.array()) {
        auto node = toJson(element, indexPath(path, index++));
        if (!node) return node.error();
        array.push_back(std::move(node).value());
      }
      return array;
    }
    case Value::Type::dictionary: return toJsonObject(*value.dictionary(), path);
  }
  return makeCodingError(Code::invalidValue, "value of an unknown type", path);
}

Result<Value> toValue(const json& node, const std::string& path) {
  switch (node.type()) {
    case json::value_t::object: {
      Value::Dictionary dictionary;
      for (const auto& [key, member] : node.items()) {
        auto value = toValue(member, memberPath(path, key));
        if (!value) return value.error();
        dictionary.emplace(key, std::move(value).value());
      }
      return Value(std::move(dictionary));
    }
    case json::value_t::array: {
      Value::Array array;
      for (std::size_t i = 0; i < node.size(); ++i) {
        auto value = toValue(node[i], indexPath(path, i));
        if (!value) return value.error();
        array.push_back(std::move(value).value());
      }
      return Value(std::move(array));
    }
    case json::value_t::string: return Value(node.get_ref<const std::string&>());
    case json::value_t::boolean: return Value(node.get<bool>());
    case json::value_t::number_integer: return Value(node.get<std::int64_t>());
    case json::value_t::number_float: return Value(node.get<double>());
    case json::value_t::binary:
      switch (subtypeOf(node).value_or(dataSubtype)) {
        case dateSubtype: return Value(Date{std::bit_cast<double>(bitsOf(node))});
        case uidSubtype: return Value(ArchiveUid{bitsOf(node)});
        default: return Value(Data(node.get_binary().begin(), node.get_binary().end()));
      }
    default:
      return makeCodingError(Code::typeMismatch, fmt::format("expected a value, found {}", typeNameOf(node)), path);
  }
}

}  // namespace

bool DecodingContainer::hasFailed() const { return _context->error != nullptr || _node == nullptr; }

bool DecodingContainer::fail(std::string detail) const {
  if (!_context->error) _context->error = makeCodingError(Code::dataCorrupted, std::move(detail), _path);
  return false;
}

void DecodingContainer::failKeyNotFound(std::string_view key) const {
  if (!_context->error) {
    _context->error = makeCodingError(Code::keyNotFound, fmt::format("no value for the key \"{}\"", key), _path);
  }
}

bool DecodingContainer::failNumberOutOfRange(std::size_t bits, std::string_view kind) const {
  return fail(fmt::format("the number {} does not fit in a {}-bit {}", _node ? _node->dump() : "", bits, kind));
}

namespace {

bool failTypeMismatch(coding_detail::DecodingContext* context, const json* node, const std::string& path,
                      std::string_view expected) {
  if (!context->error) {
    context->error = makeCodingError(
        Code::typeMismatch, fmt::format("expected {}, found {}", expected, node ? typeNameOf(*node) : "nothing"), path);
  }
  return false;
}

}  // namespace

bool DecodingContainer::isNull() const { return _node && _node->is_null(); }
bool DecodingContainer::isObject() const { return _node && _node->is_object(); }
bool DecodingContainer::isArray() const { return _node && _node->is_array(); }

bool DecodingContainer::requireObject() const {
  if (hasFailed()) return false;
  return isObject() || failTypeMismatch(_context, _node, _path, "a dictionary");
}

bool DecodingContainer::requireArray() const {
  if (hasFailed()) return false;
  return isArray() || failTypeMismatch(_context, _node, _path, "an array");
}

std::optional<DecodingContainer> DecodingContainer::member(std::string_view key) const {
  if (!requireObject()) return std::nullopt;
  const std::string path = memberPath(_path, key);
  const std::string exact(key);
  if (_context->decoder.keyDecodingStrategy == DictionaryDecoder::KeyDecodingStrategy::useDefaultKeys) {
    auto found = _node->find(exact);
    if (found == _node->end()) return std::nullopt;
    return DecodingContainer(_context, &*found, path);
  }
  for (auto it = _node->begin(); it != _node->end(); ++it) {
    if (internal::camelCaseFromSnakeCase(it.key()) == key) return DecodingContainer(_context, &*it, path);
  }
  // Keys with runs of capitals ("myURLValue") are written as "my_url_value", which turns
  // back into "myUrlValue"; find them by their snake-case form too, so that what the encoder
  // wrote always decodes.
  auto found = _node->find(internal::snakeCaseFromCamelCase(key));
  if (found == _node->end()) return std::nullopt;
  return DecodingContainer(_context, &*found, path);
}

bool DecodingContainer::contains(std::string_view key) const {
  if (!isObject() || hasFailed()) return false;
  return member(key).has_value();
}

DecodingContainer DecodingContainer::rawMember(const std::string& key) const {
  const std::string path = memberPath(_path, key);
  if (!requireObject()) return DecodingContainer(_context, nullptr, path);
  auto found = _node->find(key);
  if (found == _node->end()) {
    failKeyNotFound(key);
    return DecodingContainer(_context, nullptr, path);
  }
  return DecodingContainer(_context, &*found, path);
}

std::vector<std::string> DecodingContainer::keys() const {
  std::vector<std::string> keys;
  if (!requireObject()) return keys;
  for (auto it = _node->begin(); it != _node->end(); ++it) keys.push_back(it.key());
  return keys;
}

std::size_t DecodingContainer::count() const { return requireArray() ? _node->size() : 0; }

DecodingContainer DecodingContainer::element(std::size_t index) const {
  const std::string path = indexPath(_path, index);
  if (!requireArray()) return DecodingContainer(_context, nullptr, path);
  if (index >= _node->size()) {
    fail(fmt::format("index {} is beyond the {} elements of the array", index, _node->size()));
    return DecodingContainer(_context, nullptr, path);
  }
  return DecodingContainer(_context, &(*_node)[index], path);
}

bool DecodingContainer::readBoolean(bool& out) const {
  if (hasFailed()) return false;
  if (!_node->is_boolean()) return failTypeMismatch(_context, _node, _path, "a boolean");
  out = _node->get<bool>();
  return true;
}

bool DecodingContainer::readInteger(std::int64_t& out) const {
  if (hasFailed()) return false;
  if (_node->is_number_integer() && !_node->is_number_unsigned()) {
    out = _node->get<std::int64_t>();
    return true;
  }
  if (_node->is_number_unsigned()) {
    const auto value = _node->get<std::uint64_t>();
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return failNumberOutOfRange(64, "signed integer");
    }
    out = static_cast<std::int64_t>(value);
    return true;
  }
  if (_node->is_number_float()) {
    const double value = _node->get<double>();
    // -2^63 is exact as a double; 2^63 is the first value above the range.
    if (value != std::trunc(value) || value < -9223372036854775808.0 || value >= 9223372036854775808.0) {
      return failNumberOutOfRange(64, "signed integer");
    }
    out = static_cast<std::int64_t>(value);
    return true;
  }
  return failTypeMismatch(_context, _node, _path, "an integer");
}

bool DecodingContainer::readUnsigned(std::uint64_t& out) const {
  if (hasFailed()) return false;
  if (_node->is_number_unsigned()) {
    out = _node->get<std::uint64_t>();
    return true;
  }
  if (_node->is_number_integer()) {
    const auto value = _node->get<std::int64_t>();
    if (value < 0) return failNumberOutOfRange(64, "unsigned integer");
    out = static_cast<std::uint64_t>(value);
    return true;
  }
  if (_node->is_number_float()) {
    const double value = _node->get<double>();
    if (value != std::trunc(value) || value < 0 || value >= 18446744073709551616.0) {
      return failNumberOutOfRange(64, "unsigned integer");
    }
    out = static_cast<std::uint64_t>(value);
    return true;
  }
  return failTypeMismatch(_context, _node, _path, "an integer");
}

bool DecodingContainer::readReal(double& out) const {
  if (hasFailed()) return false;
  if (_node->is_number()) {
    out = _node->get<double>();
    return true;
  }
  const auto& texts = _context->decoder.nonConformingFloatDecodingStrategy.convertFromString;
  if (_node->is_string() && texts) {
    const auto& text = _node->get_ref<const std::string&>();
    if (text == texts->positiveInfinity) {
      out = std::numeric_limits<double>::infinity();
      return true;
    }
    if (text == texts->negativeInfinity) {
      out = -std::numeric_limits<double>::infinity();
      return true;
    }
    if (text == texts->nan) {
      out = std::numeric_limits<double>::quiet_NaN();
      return true;
    }
  }
  return failTypeMismatch(_context, _node, _path, "a number");
}

bool DecodingContainer::readText(std::string& out) const {
  if (hasFailed()) return false;
  if (!_node->is_string()) return failTypeMismatch(_context, _node, _path, "text");
  out = _node->get_ref<const std::string&>();
  return true;
}

bool DecodingContainer::readDate(Date& out) const {
  if (hasFailed()) return false;
  if (subtypeOf(*_node) == dateSubtype) {
    out = Date{std::bit_cast<double>(bitsOf(*_node))};
    return true;
  }
  using Strategy = DictionaryDecoder::DateDecodingStrategy;
  const Strategy strategy = _context->decoder.dateDecodingStrategy;
  if (strategy == Strategy::iso8601) {
    if (!_node->is_string()) return failTypeMismatch(_context, _node, _path, "an ISO 8601 date text");
    auto date = internal::iso8601Parse(_node->get_ref<const std::string&>());
    if (!date) return fail(fmt::format("\"{}\" is not an ISO 8601 date", _node->get_ref<const std::string&>()));
    out = *date;
    return true;
  }
  double number = 0;
  if (!readReal(number)) return false;
  switch (strategy) {
    case Strategy::deferredToDate: out = Date{number + kReferenceDateOffset}; break;
    case Strategy::secondsSince1970: out = Date{number}; break;
    case Strategy::millisecondsSince1970: out = Date{number / 1000.0}; break;
    case Strategy::iso8601: break;
  }
  return true;
}

bool DecodingContainer::readData(Data& out) const {
  if (hasFailed()) return false;
  if (subtypeOf(*_node) == dataSubtype) {
    out.assign(_node->get_binary().begin(), _node->get_binary().end());
    return true;
  }
  if (_context->decoder.dataDecodingStrategy == DictionaryDecoder::DataDecodingStrategy::base64) {
    if (!_node->is_string()) return failTypeMismatch(_context, _node, _path, "base64 text");
    auto data = internal::base64Decode(_node->get_ref<const std::string&>());
    if (!data) return fail("text is not valid base64");
    out = std::move(*data);
    return true;
  }
  if (!requireArray()) return false;
  Data data;
  data.reserve(_node->size());
  for (std::size_t i = 0; i < _node->size(); ++i) {
    std::uint8_t byte = 0;
    if (!element(i).decode(byte)) return false;
    data.push_back(byte);
  }
  out = std::move(data);
  return true;
}

bool DecodingContainer::readValueTree(Value& out) const {
  if (hasFailed()) return false;
  auto value = toValue(*_node, _path);
  if (!value) {
    if (!_context->error) _context->error = value.error();
    return false;
  }
  out = std::move(value).value();
  return true;
}

std::string DictionaryDecoder::convertFromSnakeCase(std::string_view key) { return internal::camelCaseFromSnakeCase(key); }

Result<void> DictionaryDecoder::decodeWith(const Value::Dictionary& dictionary,
                                           const std::function<void(const DecodingContainer&)>& read) const {
  auto root = toJsonObject(dictionary, {});
  if (!root) return root.error();
  coding_detail::DecodingContext context{*this, nullptr};
  DecodingContainer container(&context, &*root, {});
  read(container);
  if (context.error) return context.error;
  return {};
}

}  // namespace vantelkit
