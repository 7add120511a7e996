#include "vantelkit/foundation/DictionaryEncoder.h"

#include <cmath>
#include <limits>

#include <fmt/core.h>
#include <nlohmann/json.hpp>

#include "foundation/internal/CodingText.h"
#include "foundation/internal/Utf8.h"

namespace vantelkit {

namespace coding_detail {

struct EncodingContext {
  const DictionaryEncoder& encoder;
  ErrorPtr error;  // the first failure
};

}  // namespace coding_detail

namespace {

using Code = CodingError::Code;
using nlohmann::json;

using internal::indexPath;
using internal::kReferenceDateOffset;
using internal::memberPath;


std::string_view jsonTypeName(const json& node) {
  switch (node.type()) {
    case json::value_t::null: return "null";
    case json::value_t::object: return "dictionary";
    case json::value_t::array: return "array";
    case json::value_t::string: return "text";
    case json::value_t::boolean: return "boolean";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned: return "integer";
    case json::value_t::number_float: return "real";
    default: return "value";
  }
}

// The parse step: the finished JSON tree as values.
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
      array.reserve(node.size());
      for (std::size_t i = 0; i < node.size(); ++i) {
        auto value = toValue(node[i], fmt::format("{}[{}]", path, i));
        if (!value) return value.error();
        array.push_back(std::move(value).value());
      }
      return Value(std::move(array));
    }
    case json::value_t::string: return Value(node.get_ref<const std::string&>());
    case json::value_t::boolean: return Value(node.get<bool>());
    case json::value_t::number_integer: return Value(node.get<std::int64_t>());
    case json::value_t::number_float: return Value(node.get<double>());
    case json::value_t::null:
      return makeCodingError(Code::invalidValue, "an empty optional has no dictionary form", path);
    default:
      return makeCodingError(Code::invalidValue, fmt::format("a {} has no dictionary form", jsonTypeName(node)), path);
  }
}

}  // namespace

EncodingContainer EncodingContainer::member(std::string_view key) {
  if (_context->encoder.keyEncodingStrategy == DictionaryEncoder::KeyEncodingStrategy::convertToSnakeCase) {
    return rawMember(internal::snakeCaseFromCamelCase(key));
  }
  return rawMember(key);
}

EncodingContainer EncodingContainer::rawMember(std::string_view key) {
  std::string path = memberPath(_path, key);
  makeObject();
  if (hasFailed()) return EncodingContainer(_context, nullptr, std::move(path));
  if (!internal::isValidUtf8(key)) {
    EncodingContainer child(_context, nullptr, path);
    child.fail("key is not UTF-8");
    return child;
  }
  json& slot = (*_node)[std::string(key)];
  slot = nullptr;
  return EncodingContainer(_context, &slot, std::move(path));
}

EncodingContainer EncodingContainer::appendElement() {
  makeArray();
  const std::size_t index = _node && _node->is_array() ? _node->size() : 0;
  std::string path = fmt::format("{}[{}]", _path, index);
  if (hasFailed()) return EncodingContainer(_context, nullptr, std::move(path));
  _node->push_back(nullptr);
  return EncodingContainer(_context, &_node->back(), std::move(path));
}

void EncodingContainer::fail(std::string detail) {
  if (!_context->error) _context->error = makeCodingError(Code::invalidValue, std::move(detail), _path);
}

bool EncodingContainer::hasFailed() const { return _context->error != nullptr || _node == nullptr; }

void EncodingContainer::makeObject() {
  if (hasFailed()) return;
  if (_node->is_null()) {
    *_node = json::object();
  } else if (!_node->is_object()) {
    fail(fmt::format("a {} was already written here, not a dictionary", jsonTypeName(*_node)));
  }
}

void EncodingContainer::makeArray() {
  if (hasFailed()) return;
  if (_node->is_null()) {
    *_node = json::array();
  } else if (!_node->is_array()) {
    fail(fmt::format("a {} was already written here, not an array", jsonTypeName(*_node)));
  }
}

void EncodingContainer::encodeBoolean(bool value) {
  if (!hasFailed()) *_node = value;
}

void EncodingContainer::encodeInteger(std::int64_t value) {
  if (!hasFailed()) *_node = value;
}

void EncodingContainer::encodeUnsigned(std::uint64_t value) {
  if (hasFailed()) return;
  if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    fail(fmt::format("the integer {} is above the signed 64-bit range of dictionary values", value));
    return;
  }
  *_node = static_cast<std::int64_t>(value);
}

void EncodingContainer::encodeReal(double value) {
  if (hasFailed()) return;
  if (std::isfinite(value)) {
    *_node = value;
    return;
  }
  const auto& texts = _context->encoder.nonConformingFloatEncodingStrategy.convertToString;
  if (!texts) {
    fail(fmt::format("the real {} has no JSON form", value));
  } else if (std::isnan(value)) {
    encodeText(texts->nan);
  } else {
    encodeText(value > 0 ? texts->positiveInfinity : texts->negativeInfinity);
  }
}

void EncodingContainer::encodeText(std::string_view value) {
  if (hasFailed()) return;
  if (!internal::isValidUtf8(value)) {
    fail("text is not UTF-8");
    return;
  }
  *_node = std::string(value);
}

void EncodingContainer::encodeDate(Date value) {
  if (hasFailed()) return;
  using Strategy = DictionaryEncoder::DateEncodingStrategy;
  switch (_context->encoder.dateEncodingStrategy) {
    case Strategy::deferredToDate:
      encodeReal(value.secondsSince1970 - kReferenceDateOffset);
      return;
    case Strategy::secondsSince1970:
      encodeReal(value.secondsSince1970);
      return;
    case Strategy::millisecondsSince1970:
      encodeReal(value.secondsSince1970 * 1000.0);
      return;
    case Strategy::iso8601:
      if (auto text = internal::iso8601Format(value)) {
        *_node = *text;
      } else {
        fail(fmt::format("the date {} has no ISO 8601 form", value.secondsSince1970));
      }
      return;
  }
}

void EncodingContainer::encodeData(const Data& value) {
  if (hasFailed()) return;
  switch (_context->encoder.dataEncodingStrategy) {
    case DictionaryEncoder::DataEncodingStrategy::base64:
      *_node = internal::base64Encode(value);
      return;
    case DictionaryEncoder::DataEncodingStrategy::deferredToData: {
      json array = json::array();
      for (std::uint8_t byte : value) array.push_back(static_cast<std::int64_t>(byte));
      *_node = std::move(array);
      return;
    }
  }
}

void EncodingContainer::encodeValueTree(const Value& value) {
  if (hasFailed()) return;
  switch (value.type()) {
    case Value::Type::text: encodeText(*value.text()); return;
    case Value::Type::integer: encodeInteger(*value.integer()); return;
    case Value::Type::real: encodeReal(*value.real()); return;
    case Value::Type::boolean: encodeBoolean(*value.boolean()); return;
    case Value::Type::date: encodeDate(*value.date()); return;
    case Value::Type::data: encodeData(*value.data()); return;
    case Value::Type::array:
      makeArray();
      for (const Value& element : *value.array()) {
        if (hasFailed()) return;
        appendElement().encodeValueTree(element);
      }
      return;
    case Value::Type::dictionary:
      makeObject();
      for (const auto& [key, member] : *value.dictionary()) {
        if (hasFailed()) return;
        rawMember(key).encodeValueTree(member);
      }
      return;
    case Value::Type::uid:
      fail("a keyed-archive UID has no JSON form");
      return;
  }
}

void EncodingContainer::encodeNull() {
  if (!hasFailed()) *_node = nullptr;
}

std::string DictionaryEncoder::convertToSnakeCase(std::string_view key) { return internal::snakeCaseFromCamelCase(key); }

Result<Value::Dictionary> DictionaryEncoder::encodeWith(const std::function<void(EncodingContainer&)>& write) const {
  json root;
  coding_detail::EncodingContext context{*this, nullptr};
  EncodingContainer container(&context, &root, {});
  write(container);
  if (context.error) return context.error;
  if (!root.is_object()) {
    return makeCodingError(Code::invalidValue,
                           fmt::format("the value encodes to a {}, not a dictionary", jsonTypeName(root)));
  }
  auto value = toValue(root, {});
  if (!value) return value.error();
  return std::move(*value->dictionary());
}

}  // namespace vantelkit
