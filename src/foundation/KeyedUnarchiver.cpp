#include "vantelkit/foundation/KeyedUnarchiver.h"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <fmt/core.h>

#include "foundation/internal/CodingText.h"
#include "foundation/internal/Utf8.h"
#include "vantelkit/foundation/PropertyList.h"

namespace vantelkit {

namespace {

using Code = CodingError::Code;

// The classes whose objects become values; everything else is unknown.
enum class ClassKind { dictionary, array, string, data, date, unknown };

ClassKind kindOfClassName(std::string_view name) {
  if (name == "NSDictionary" || name == "NSMutableDictionary") return ClassKind::dictionary;
  if (name == "NSArray" || name == "NSMutableArray" || name == "NSSet" || name == "NSMutableSet" ||
      name == "NSOrderedSet" || name == "NSMutableOrderedSet") {
    return ClassKind::array;
  }
  if (name == "NSString" || name == "NSMutableString") return ClassKind::string;
  if (name == "NSData" || name == "NSMutableData") return ClassKind::data;
  if (name == "NSDate") return ClassKind::date;
  return ClassKind::unknown;
}

// What a value costs against the result limits.
struct Cost {
  std::size_t values = 0;
  std::size_t bytes = 0;
  Cost& operator+=(const Cost& other) {
    values += other.values;
    bytes += other.bytes;
    return *this;
  }
};

std::size_t payloadBytes(const Value& value) {
  if (const auto* text = value.text()) return text->size();
  if (const auto* data = value.data()) return data->size();
  return 0;
}

// A decoded object, or none for the null object.
using Decoded = std::optional<Value>;

class Decoder {
 public:
  // root: the top-level reference, which counts as one more reference to its object.
  Decoder(const Value::Array& objects, KeyedUnarchiverOptions options, std::uint64_t root)
      : _objects(objects),
        _options(options),
        _state(objects.size(), State::fresh),
        _cache(objects.size()),
        _costs(objects.size()),
        _references(objects.size(), 0) {
    countReferences();
    if (root < _references.size() && _references[static_cast<std::size_t>(root)] < 2) {
      ++_references[static_cast<std::size_t>(root)];
    }
  }

  Result<Decoded> object(std::uint64_t uid, int depth) {
    if (uid >= _objects.size()) {
      return makeCodingError(Code::dataCorrupted,
                             fmt::format("reference {} is outside the {} objects", uid, _objects.size()));
    }
    if (uid == 0) return Decoded();
    const auto index = static_cast<std::size_t>(uid);
    switch (_state[index]) {
      case State::decoding:
        return makeCodingError(Code::dataCorrupted, "reference cycle", path(index));
      case State::done:
        if (_cache[index]) {
          // A shared object: decoded before, copied here.
          if (auto error = charge(_costs[index], index)) return error;
          return Decoded(*_cache[index]);
        }
        // Not kept (its references were miscounted): decoded again, and charged again.
        break;
      case State::fresh:
        break;
    }
    if (depth > KeyedUnarchiver::maximumDepth) {
      return makeCodingError(Code::limitExceeded,
                             fmt::format("objects nested deeper than {} levels", KeyedUnarchiver::maximumDepth),
                             path(index));
    }
    _state[index] = State::decoding;
    const Cost before = _spent;
    auto decoded = decodeFresh(index, depth);
    if (!decoded) return decoded;
    _state[index] = State::done;
    if (!decoded->has_value()) return decoded;
    if (auto error = charge(Cost{1, payloadBytes(**decoded)}, index)) return error;
    const Cost cost{_spent.values - before.values, _spent.bytes - before.bytes};
    _costs[index] = cost;
    if (_references[index] > 1) {
      // Referred to again later: keep it, and count the copy handed out now.
      if (auto error = charge(cost, index)) return error;
      _cache[index] = **decoded;
    }
    return decoded;
  }

 private:
  enum class State : std::uint8_t { fresh, decoding, done };

  static std::string path(std::size_t index) { return fmt::format("$objects[{}]", index); }

  CodingErrorPtr charge(const Cost& cost, std::size_t index) {
    _spent += cost;
    if (_spent.values > KeyedUnarchiver::maximumValueCount) {
      return makeCodingError(Code::limitExceeded,
                             fmt::format("more than {} values", KeyedUnarchiver::maximumValueCount), path(index));
    }
    if (_spent.bytes > KeyedUnarchiver::maximumTextAndDataBytes) {
      return makeCodingError(Code::limitExceeded,
                             fmt::format("more than {} bytes of text and data", KeyedUnarchiver::maximumTextAndDataBytes),
                             path(index));
    }
    return nullptr;
  }

  void countReferences() {
    auto note = [this](const Value& member) {
      if (auto uid = member.uid(); uid && uid->value < _references.size()) {
        auto& count = _references[static_cast<std::size_t>(uid->value)];
        if (count < 2) ++count;
      }
    };
    for (const Value& object : _objects) {
      const auto* members = object.dictionary();
      if (!members) continue;
      for (const auto& [key, member] : *members) {
        note(member);
        if (const auto* elements = member.array()) {
          for (const Value& element : *elements) note(element);
        }
      }
    }
  }

  Result<Decoded> decodeFresh(std::size_t index, int depth) {
    const Value& object = _objects[index];
    switch (object.type()) {
      // The property-list reader has checked every text for UTF-8.
      case Value::Type::text:
      case Value::Type::integer:
      case Value::Type::real:
      case Value::Type::boolean:
      case Value::Type::data:
      case Value::Type::date:
        return Decoded(object);
      case Value::Type::dictionary:
        return decodeInstance(index, *object.dictionary(), depth);
      case Value::Type::array:
      case Value::Type::uid:
        break;
    }
    return makeCodingError(Code::dataCorrupted,
                           fmt::format("an object may not be a bare {}", valueTypeName(object.type())), path(index));
  }

  // The class record an instance refers to: its kind and its name.
  Result<std::pair<ClassKind, std::string>> classOf(std::size_t index, const Value::Dictionary& instance) {
    auto found = instance.find("$class");
    if (found == instance.end()) return makeCodingError(Code::keyNotFound, "object without a class", path(index));
    auto uid = found->second.uid();
    if (!uid) return makeCodingError(Code::typeMismatch, "class is not a reference", path(index));
    if (uid->value == 0 || uid->value >= _objects.size()) {
      return makeCodingError(Code::dataCorrupted, fmt::format("class reference {} is out of range", uid->value),
                             path(index));
    }
    const Value& record = _objects[static_cast<std::size_t>(uid->value)];
    const std::string* name = record.textFor("$classname");
    if (!name) {
      return makeCodingError(Code::dataCorrupted, "class record without a name",
                             path(static_cast<std::size_t>(uid->value)));
    }
    if (const auto* chain = record.arrayFor("$classes")) {
      for (const Value& link : *chain) {
        const std::string* linkName = link.text();
        if (!linkName) continue;
        if (auto kind = kindOfClassName(*linkName); kind != ClassKind::unknown) return std::pair(kind, *name);
      }
      return std::pair(ClassKind::unknown, *name);
    }
    return std::pair(kindOfClassName(*name), *name);
  }

  Result<Decoded> decodeInstance(std::size_t index, const Value::Dictionary& instance, int depth) {
    auto classRecord = classOf(index, instance);
    if (!classRecord) return classRecord.error();
    const auto& [kind, className] = *classRecord;
    switch (kind) {
      case ClassKind::dictionary:
        return decodeDictionary(index, instance, depth);
      case ClassKind::array:
        return decodeArray(index, instance, depth);
      case ClassKind::string:
        return decodeString(index, instance, depth);
      case ClassKind::data:
        return decodeData(index, instance, depth);
      case ClassKind::date:
        return decodeDate(index, instance);
      case ClassKind::unknown:
        break;
    }
    if (!_options.decodeUnknownClasses) {
      return makeCodingError(Code::typeMismatch,
                             fmt::format("an object of the unknown class \"{}\"", className), path(index));
    }
    return decodeGeneric(index, instance, className, depth);
  }

  // The objects that the references in a member list refer to; a null among them is an error.
  Result<Value::Array> elements(std::size_t index, const Value::Dictionary& instance, std::string_view key,
                                int depth) {
    auto found = instance.find(key);
    if (found == instance.end()) {
      return makeCodingError(Code::keyNotFound, fmt::format("no \"{}\"", key), path(index));
    }
    const auto* references = found->second.array();
    if (!references) {
      return makeCodingError(Code::typeMismatch, fmt::format("\"{}\" is not a list", key), path(index));
    }
    Value::Array result;
    result.reserve(references->size());
    for (const Value& reference : *references) {
      auto uid = reference.uid();
      if (!uid) {
        return makeCodingError(Code::typeMismatch, fmt::format("\"{}\" holds a value that is not a reference", key),
                               path(index));
      }
      auto element = object(uid->value, depth + 1);
      if (!element) return element.error();
      if (!element->has_value()) {
        return makeCodingError(Code::dataCorrupted, fmt::format("\"{}\" holds the null object", key), path(index));
      }
      result.push_back(std::move(**element));
    }
    return result;
  }

  Result<Decoded> decodeDictionary(std::size_t index, const Value::Dictionary& instance, int depth) {
    auto keys = elements(index, instance, "NS.keys", depth);
    if (!keys) return keys.error();
    auto values = elements(index, instance, "NS.objects", depth);
    if (!values) return values.error();
    if (keys->size() != values->size()) {
      return makeCodingError(Code::dataCorrupted,
                             fmt::format("{} keys for {} objects", keys->size(), values->size()), path(index));
    }
    Value::Dictionary dictionary;
    for (std::size_t i = 0; i < keys->size(); ++i) {
      const std::string* key = (*keys)[i].text();
      if (!key) {
        return makeCodingError(Code::typeMismatch,
                               fmt::format("a dictionary key is a {}, not a text", valueTypeName((*keys)[i].type())),
                               path(index));
      }
      dictionary.insert_or_assign(*key, std::move((*values)[i]));
    }
    return Decoded(Value(std::move(dictionary)));
  }

  Result<Decoded> decodeArray(std::size_t index, const Value::Dictionary& instance, int depth) {
    auto members = elements(index, instance, "NS.objects", depth);
    if (!members) return members.error();
    return Decoded(Value(std::move(members).value()));
  }

  // A member that is a value of the given type, inline or through a reference.
  Result<Value> member(std::size_t index, const Value::Dictionary& instance, std::string_view key,
                       Value::Type type, int depth) {
    auto found = instance.find(key);
    if (found == instance.end()) {
      return makeCodingError(Code::keyNotFound, fmt::format("no \"{}\"", key), path(index));
    }
    Value value = found->second;
    if (auto uid = value.uid()) {
      auto referred = object(uid->value, depth + 1);
      if (!referred) return referred.error();
      if (!referred->has_value()) {
        return makeCodingError(Code::dataCorrupted, fmt::format("\"{}\" is the null object", key), path(index));
      }
      value = std::move(**referred);
    }
    if (value.type() != type) {
      return makeCodingError(Code::typeMismatch,
                             fmt::format("\"{}\" is a {}, not a {}", key, valueTypeName(value.type()),
                                         valueTypeName(type)),
                             path(index));
    }
    return value;
  }

  Result<Decoded> decodeString(std::size_t index, const Value::Dictionary& instance, int depth) {
    if (instance.count("NS.string") != 0) {
      auto text = member(index, instance, "NS.string", Value::Type::text, depth);
      if (!text) return text.error();
      return Decoded(std::move(text).value());
    }
    auto bytes = member(index, instance, "NS.bytes", Value::Type::data, depth);
    if (!bytes) return bytes.error();
    const Data& data = *bytes->data();
    std::string text(data.begin(), data.end());
    if (!internal::isValidUtf8(text)) return makeCodingError(Code::dataCorrupted, "text is not UTF-8", path(index));
    return Decoded(Value(std::move(text)));
  }

  Result<Decoded> decodeData(std::size_t index, const Value::Dictionary& instance, int depth) {
    auto data = member(index, instance, "NS.data", Value::Type::data, depth);
    if (!data) return data.error();
    return Decoded(std::move(data).value());
  }

  Result<Decoded> decodeDate(std::size_t index, const Value::Dictionary& instance) {
    auto found = instance.find("NS.time");
    if (found == instance.end()) return makeCodingError(Code::keyNotFound, "no \"NS.time\"", path(index));
    auto seconds = found->second.number();
    if (!seconds) return makeCodingError(Code::typeMismatch, "\"NS.time\" is not a number", path(index));
    if (!std::isfinite(*seconds)) return makeCodingError(Code::dataCorrupted, "\"NS.time\" is not finite", path(index));
    return Decoded(Value(Date{*seconds + internal::kReferenceDateOffset}));
  }

  Result<Decoded> decodeGeneric(std::size_t index, const Value::Dictionary& instance,
                                const std::string& className, int depth) {
    Value::Dictionary members;
    for (const auto& [key, raw] : instance) {
      if (key == "$class") continue;
      if (auto uid = raw.uid()) {
        auto referred = object(uid->value, depth + 1);
        if (!referred) return referred.error();
        if (referred->has_value()) members.insert_or_assign(key, std::move(**referred));
        continue;
      }
      if (const auto* list = raw.array()) {
        Value::Array array;
        array.reserve(list->size());
        for (const Value& element : *list) {
          if (element.type() == Value::Type::array || element.type() == Value::Type::dictionary) {
            return makeCodingError(Code::dataCorrupted, fmt::format("\"{}\" holds a nested container", key),
                                   path(index));
          }
          if (auto elementUid = element.uid()) {
            auto referred = object(elementUid->value, depth + 1);
            if (!referred) return referred.error();
            if (!referred->has_value()) {
              return makeCodingError(Code::dataCorrupted, fmt::format("\"{}\" holds the null object", key),
                                     path(index));
            }
            array.push_back(std::move(**referred));
          } else {
            if (auto error = charge(Cost{1, payloadBytes(element)}, index)) return error;
            array.push_back(element);
          }
        }
        members.insert_or_assign(key, Value(std::move(array)));
        continue;
      }
      if (raw.type() == Value::Type::dictionary) {
        return makeCodingError(Code::dataCorrupted, fmt::format("\"{}\" is a bare dictionary", key), path(index));
      }
      if (auto error = charge(Cost{1, payloadBytes(raw)}, index)) return error;
      members.insert_or_assign(key, raw);
    }
    members.insert_or_assign("$classname", Value(className));
    return Decoded(Value(std::move(members)));
  }

  const Value::Array& _objects;
  const KeyedUnarchiverOptions _options;
  std::vector<State> _state;
  // Objects referred to more than once, kept after their first decoding.
  std::vector<std::optional<Value>> _cache;
  // What each decoded object's value costs, to charge every further copy.
  std::vector<Cost> _costs;
  // How often each object is referred to, counted up to 2.
  std::vector<std::uint8_t> _references;
  Cost _spent;
};

}  // namespace

Result<std::optional<Value>> KeyedUnarchiver::unarchiveTopLevelObject(std::string_view bytes,
                                                                           KeyedUnarchiverOptions options) {
  return unarchiveTopLevelObject(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                                 options);
}

Result<std::optional<Value>> KeyedUnarchiver::unarchiveTopLevelObject(std::span<const std::uint8_t> bytes,
                                                                           KeyedUnarchiverOptions options) {
  auto parsed = PropertyList::parse(bytes);
  if (!parsed) return parsed.error();
  const Value& archive = *parsed;
  const std::string* archiver = archive.textFor("$archiver");
  if (!archive.dictionary() || !archiver || *archiver != "NSKeyedArchiver") {
    return makeCodingError(Code::dataCorrupted, "not a keyed archive");
  }
  if (!archive.integerFor("$version")) {
    return makeCodingError(Code::dataCorrupted, "a keyed archive without a version");
  }
  const Value::Array* objects = archive.arrayFor("$objects");
  if (!objects) return makeCodingError(Code::dataCorrupted, "a keyed archive without a list of objects");
  if (objects->size() > maximumObjectCount) {
    return makeCodingError(Code::limitExceeded, fmt::format("more than {} objects", maximumObjectCount));
  }
  const std::string* nullObject = objects->empty() ? nullptr : objects->front().text();
  if (!nullObject || *nullObject != "$null") {
    return makeCodingError(Code::dataCorrupted, "the first object is not \"$null\"", "$objects[0]");
  }
  const Value::Dictionary* top = archive.dictionaryFor("$top");
  if (!top) return makeCodingError(Code::dataCorrupted, "a keyed archive without \"$top\"");
  const Value* root = nullptr;
  if (auto named = top->find("root"); named != top->end()) {
    root = &named->second;
  } else if (top->size() == 1) {
    root = &top->begin()->second;
  }
  if (!root) return makeCodingError(Code::keyNotFound, "no top-level object", "$top");
  auto uid = root->uid();
  if (!uid) return makeCodingError(Code::typeMismatch, "the top-level object is not a reference", "$top");
  Decoder decoder(*objects, options, uid->value);
  return decoder.object(uid->value, 0);
}

}  // namespace vantelkit
