#include "KeyedArchiveBuilder.h"

#include <plist/plist.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace vantelkit::testing {

namespace {

struct PlistFree {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Node = std::unique_ptr<void, PlistFree>;

Node toNode(const Value& value) {
  switch (value.type()) {
    case Value::Type::text: return Node(plist_new_string(value.text()->c_str()));
    case Value::Type::integer: return Node(plist_new_uint(static_cast<std::uint64_t>(*value.integer())));
    case Value::Type::real: return Node(plist_new_real(*value.real()));
    case Value::Type::boolean: return Node(plist_new_bool(*value.boolean() ? 1 : 0));
    case Value::Type::data:
      return Node(plist_new_data(reinterpret_cast<const char*>(value.data()->data()), value.data()->size()));
    case Value::Type::uid: return Node(plist_new_uid(value.uid()->value));
    case Value::Type::array: {
      Node array(plist_new_array());
      for (const Value& element : *value.array()) plist_array_append_item(array.get(), toNode(element).release());
      return array;
    }
    case Value::Type::dictionary: {
      Node dictionary(plist_new_dict());
      for (const auto& [key, member] : *value.dictionary()) {
        plist_dict_set_item(dictionary.get(), key.c_str(), toNode(member).release());
      }
      return dictionary;
    }
    case Value::Type::date: break;
  }
  throw std::invalid_argument("libplistBytes: dates are not written");
}

// Lays a value tree out as archive objects.
class Archiver {
 public:
  Archiver() { _objects.push_back(Value("$null")); }

  ArchiveUid add(const Value& value) {
    if (const auto* text = value.text()) {
      if (auto known = _texts.find(*text); known != _texts.end()) return known->second;
    }
    const auto uid = ArchiveUid{_objects.size()};
    _objects.emplace_back();
    Value object;
    switch (value.type()) {
      case Value::Type::dictionary: {
        Value::Array keys;
        Value::Array members;
        for (const auto& [key, member] : *value.dictionary()) {
          keys.push_back(Value(add(Value(key))));
          members.push_back(Value(add(member)));
        }
        object = Value(Value::Dictionary{
            {"$class", Value(classUid("NSDictionary"))}, {"NS.keys", Value(keys)}, {"NS.objects", Value(members)}});
        break;
      }
      case Value::Type::array: {
        Value::Array members;
        for (const Value& member : *value.array()) members.push_back(Value(add(member)));
        object = Value(Value::Dictionary{{"$class", Value(classUid("NSArray"))}, {"NS.objects", Value(members)}});
        break;
      }
      case Value::Type::date:
        object = Value(Value::Dictionary{{"$class", Value(classUid("NSDate"))},
                                         {"NS.time", Value(value.date()->secondsSince1970 - 978307200.0)}});
        break;
      default:
        object = value;
        if (const auto* text = value.text()) _texts.emplace(*text, uid);
        break;
    }
    _objects[static_cast<std::size_t>(uid.value)] = std::move(object);
    return uid;
  }

  const Value::Array& objects() const { return _objects; }

 private:
  ArchiveUid classUid(const std::string& name) {
    if (auto known = _classes.find(name); known != _classes.end()) return known->second;
    const auto uid = ArchiveUid{_objects.size()};
    _objects.push_back(classRecord(name));
    _classes.emplace(name, uid);
    return uid;
  }

  Value::Array _objects;
  std::map<std::string, ArchiveUid> _texts;
  std::map<std::string, ArchiveUid> _classes;
};

}  // namespace

std::string libplistBytes(const Value& value, PlistFormat format) {
  Node node = toNode(value);
  char* bytes = nullptr;
  std::uint32_t length = 0;
  if (format == PlistFormat::binary) {
    plist_to_bin(node.get(), &bytes, &length);
  } else {
    plist_to_xml(node.get(), &bytes, &length);
  }
  if (!bytes) throw std::runtime_error("libplist wrote nothing");
  std::string out(bytes, length);
  std::free(bytes);
  return out;
}

std::string rawKeyedArchive(const Value::Array& objects, const Value::Dictionary& top, PlistFormat format) {
  return libplistBytes(Value(Value::Dictionary{{"$archiver", Value("NSKeyedArchiver")},
                                               {"$version", Value(100000)},
                                               {"$objects", Value(objects)},
                                               {"$top", Value(top)}}),
                       format);
}

std::string keyedArchive(const Value& root, PlistFormat format) {
  Archiver archiver;
  const ArchiveUid top = archiver.add(root);
  return rawKeyedArchive(archiver.objects(), {{"root", Value(top)}}, format);
}

Value classRecord(const std::string& name) {
  return Value(Value::Dictionary{{"$classname", Value(name)},
                                 {"$classes", Value(Value::Array{Value(name), Value("NSObject")})}});
}

}  // namespace vantelkit::testing
