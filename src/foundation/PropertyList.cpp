#include "vantelkit/foundation/PropertyList.h"

#include <plist/plist.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include <fmt/core.h>

#include "foundation/internal/CodingText.h"
#include "foundation/internal/OldStylePropertyList.h"
#include "foundation/internal/PropertyListInput.h"
#include "foundation/internal/Utf8.h"
#include "vantelkit/platform/DurableFile.h"

namespace vantelkit {

namespace {

using Code = CodingError::Code;

using internal::kReferenceDateOffset;

struct PlistDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter {
  void operator()(void* pointer) const { std::free(pointer); }
};

CodingErrorPtr corrupted(std::string detail, std::string path = {}) {
  return makeCodingError(Code::dataCorrupted, std::move(detail), std::move(path));
}

// ---------------------------------------------------------------------------------------
// libplist nodes to values.



// libplist hands dates out as whole seconds and microseconds in 32-bit fields, which loses
// dates beyond 2069 and the sign of dates just before 2001. Its binary form holds the exact
// double, so the date node is written out alone and read back.
Result<Date> dateOf(plist_t node) {
  char* bytes = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(node, &bytes, &length);
  std::unique_ptr<char, MallocDeleter> owner(bytes);
  if (!bytes || length < 17 || static_cast<std::uint8_t>(bytes[8]) != 0x33) {
    return corrupted("date could not be read");
  }
  std::uint64_t raw = 0;
  for (int i = 0; i < 8; ++i) raw = raw << 8 | static_cast<std::uint8_t>(bytes[9 + i]);
  return Date{std::bit_cast<double>(raw) + kReferenceDateOffset};
}

Result<Value> toValue(plist_t node, int depth, const std::string& path, internal::XmlReals* reals);

Result<Value> dictionaryToValue(plist_t node, int depth, const std::string& path, internal::XmlReals* reals) {
  Value::Dictionary dictionary;
  plist_dict_iter rawIterator = nullptr;
  plist_dict_new_iter(node, &rawIterator);
  std::unique_ptr<void, MallocDeleter> iterator(rawIterator);
  if (!iterator) return corrupted("dictionary could not be read", path);
  while (true) {
    char* rawKey = nullptr;
    plist_t item = nullptr;
    plist_dict_next_item(node, iterator.get(), &rawKey, &item);
    std::unique_ptr<char, MallocDeleter> key(rawKey);
    if (!item) break;
    if (!key) return corrupted("dictionary key could not be read", path);
    std::string_view keyText(key.get());
    if (!internal::isValidUtf8(keyText)) return corrupted("dictionary key is not UTF-8", path);
    auto member = toValue(item, depth, internal::memberPath(path, keyText), reals);
    if (!member) return member.error();
    dictionary.insert_or_assign(std::string(keyText), std::move(member).value());
  }
  // The XML form of a keyed archive's object reference.
  if (dictionary.size() == 1) {
    if (auto uid = dictionary.begin()->second.integer(); uid && dictionary.begin()->first == "CF$UID") {
      return Value(ArchiveUid{static_cast<std::uint64_t>(*uid)});
    }
  }
  return Value(std::move(dictionary));
}

// reals: the reals of the XML text to use instead of libplist's, or null.
Result<Value> toValue(plist_t node, int depth, const std::string& path, internal::XmlReals* reals) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return Value(value != 0);
    }
    case PLIST_UINT: {
      std::uint64_t value = 0;
      plist_get_uint_val(node, &value);
      return Value(static_cast<std::int64_t>(value));
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      if (reals) {
        if (reals->next < reals->values.size()) {
          value = reals->values[reals->next];
        } else {
          reals->misaligned = true;
        }
        ++reals->next;
      }
      return Value(value);
    }
    case PLIST_STRING: {
      std::uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      if (!text) return corrupted("text could not be read", path);
      std::string_view view(text, static_cast<std::size_t>(length));
      if (!internal::isValidUtf8(view)) return corrupted("text is not UTF-8", path);
      return Value(view);
    }
    case PLIST_KEY: {
      char* raw = nullptr;
      plist_get_key_val(node, &raw);
      std::unique_ptr<char, MallocDeleter> text(raw);
      if (!text) return corrupted("key could not be read", path);
      std::string_view view(text.get());
      if (!internal::isValidUtf8(view)) return corrupted("key is not UTF-8", path);
      return Value(view);
    }
    case PLIST_DATE: {
      auto date = dateOf(node);
      if (!date) return date.error();
      return Value(*date);
    }
    case PLIST_DATA: {
      std::uint64_t length = 0;
      const char* bytes = plist_get_data_ptr(node, &length);
      if (!bytes && length != 0) return corrupted("data could not be read", path);
      const auto* begin = reinterpret_cast<const std::uint8_t*>(bytes);
      return Value(Data(begin, begin + length));
    }
    case PLIST_UID: {
      std::uint64_t value = 0;
      plist_get_uid_val(node, &value);
      return Value(ArchiveUid{value});
    }
    case PLIST_ARRAY: {
      if (depth >= PropertyList::maximumDepth) {
        return makeCodingError(Code::limitExceeded,
                               fmt::format("nesting deeper than {} levels", PropertyList::maximumDepth), path);
      }
      const std::uint32_t count = plist_array_get_size(node);
      Value::Array array;
      array.reserve(count);
      for (std::uint32_t i = 0; i < count; ++i) {
        plist_t item = plist_array_get_item(node, i);
        if (!item) return corrupted("array element could not be read", internal::indexPath(path, i));
        auto element = toValue(item, depth + 1, internal::indexPath(path, i), reals);
        if (!element) return element.error();
        array.push_back(std::move(element).value());
      }
      return Value(std::move(array));
    }
    case PLIST_DICT:
      if (depth >= PropertyList::maximumDepth) {
        return makeCodingError(Code::limitExceeded,
                               fmt::format("nesting deeper than {} levels", PropertyList::maximumDepth), path);
      }
      return dictionaryToValue(node, depth + 1, path, reals);
    case PLIST_NONE:
    default:
      return corrupted("value of an unknown type", path);
  }
}

// ---------------------------------------------------------------------------------------
// Values to libplist nodes.

// libplist makes dates from 32-bit seconds; a binary date object carries the full double.
PlistHandle makeDateNode(Date date) {
  std::uint8_t bytes[8 + 9 + 1 + 32] = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x33};
  const auto raw = std::bit_cast<std::uint64_t>(date.secondsSince1970 - kReferenceDateOffset);
  for (int i = 0; i < 8; ++i) bytes[9 + i] = static_cast<std::uint8_t>(raw >> (56 - 8 * i));
  bytes[17] = 8;  // the offset of the only object
  std::uint8_t* trailer = bytes + 18;
  trailer[6] = 1;   // offset size
  trailer[7] = 1;   // reference size
  trailer[15] = 1;  // one object
  trailer[31] = 17;  // the offset table's position
  plist_t node = nullptr;
  plist_from_bin(reinterpret_cast<const char*>(bytes), sizeof bytes, &node);
  return PlistHandle(node);
}

CodingErrorPtr checkText(std::string_view text, const std::string& path, std::string_view what) {
  if (!internal::isValidUtf8(text)) {
    return makeCodingError(Code::invalidValue, fmt::format("{} is not UTF-8", what), path);
  }
  if (text.find('\0') != std::string_view::npos) {
    return makeCodingError(Code::invalidValue, fmt::format("{} holds a NUL character", what), path);
  }
  return nullptr;
}

Result<PlistHandle> toNode(const Value& value, int depth, const std::string& path) {
  auto tooDeep = [&] {
    return makeCodingError(Code::limitExceeded, fmt::format("nesting deeper than {} levels", PropertyList::maximumDepth),
                           path);
  };
  switch (value.type()) {
    case Value::Type::text:
      if (auto error = checkText(*value.text(), path, "text")) return error;
      return PlistHandle(plist_new_string(value.text()->c_str()));
    case Value::Type::integer:
      return PlistHandle(plist_new_uint(static_cast<std::uint64_t>(*value.integer())));
    case Value::Type::real:
      return PlistHandle(plist_new_real(*value.real()));
    case Value::Type::boolean:
      return PlistHandle(plist_new_bool(*value.boolean() ? 1 : 0));
    case Value::Type::date: {
      // XML holds whole seconds; libplist would round toward 2001 rather than down.
      const Date date{std::floor(value.date()->secondsSince1970)};
      if (!internal::iso8601Format(date)) {
        return makeCodingError(Code::invalidValue, "a date outside the years 0 to 9999 has no XML form", path);
      }
      auto node = makeDateNode(date);
      if (!node) return makeCodingError(Code::invalidValue, "date could not be written", path);
      return node;
    }
    case Value::Type::data: {
      const Data& data = *value.data();
      return PlistHandle(plist_new_data(reinterpret_cast<const char*>(data.data()), data.size()));
    }
    case Value::Type::uid:
      return PlistHandle(plist_new_uid(value.uid()->value));
    case Value::Type::array: {
      if (depth >= PropertyList::maximumDepth) return tooDeep();
      PlistHandle array(plist_new_array());
      std::size_t index = 0;
      for (const Value& element : *value.array()) {
        auto child = toNode(element, depth + 1, internal::indexPath(path, index++));
        if (!child) return child.error();
        plist_array_append_item(array.get(), child->release());
      }
      return array;
    }
    case Value::Type::dictionary: {
      if (depth >= PropertyList::maximumDepth) return tooDeep();
      PlistHandle dictionary(plist_new_dict());
      // The map is ordered by key bytes, and libplist writes members in insertion order.
      for (const auto& [key, member] : *value.dictionary()) {
        if (auto error = checkText(key, path, "dictionary key")) return error;
        auto child = toNode(member, depth + 1, internal::memberPath(path, key));
        if (!child) return child.error();
        plist_dict_set_item(dictionary.get(), key.c_str(), child->release());
      }
      return dictionary;
    }
  }
  return makeCodingError(Code::invalidValue, "value of an unknown type", path);
}

Result<std::string> readFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    return makeCodingError(Code::fileUnreadable, fmt::format("no readable file at {}", path.string()));
  }
  const auto size = std::filesystem::file_size(path, error);
  if (error) return makeCodingError(Code::fileUnreadable, fmt::format("cannot read {}: {}", path.string(), error.message()));
  if (size > PropertyList::maximumSize) {
    return makeCodingError(Code::limitExceeded, fmt::format("{} is larger than {} bytes", path.string(),
                                                            PropertyList::maximumSize));
  }
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return makeCodingError(Code::fileUnreadable, fmt::format("cannot open {}", path.string()));
  std::string bytes;
  // Read up to one byte past the expected size, in case the file grew since its size was taken.
  bytes.resize(static_cast<std::size_t>(size) + 1);
  stream.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (stream.bad()) return makeCodingError(Code::fileUnreadable, fmt::format("cannot read {}", path.string()));
  bytes.resize(static_cast<std::size_t>(stream.gcount()));
  if (bytes.size() > size) {
    return makeCodingError(Code::fileUnreadable, fmt::format("{} changed while it was read", path.string()));
  }
  return bytes;
}

}  // namespace

Result<Value> PropertyList::parse(std::string_view bytes) {
  return parse(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

Result<Value> PropertyList::parse(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > maximumSize) {
    return makeCodingError(Code::limitExceeded, fmt::format("property list is larger than {} bytes", maximumSize));
  }
  if (bytes.empty()) return corrupted("property list is empty");
  plist_t raw = nullptr;
  const char* data = reinterpret_cast<const char*>(bytes.data());
  const auto length = static_cast<std::uint32_t>(bytes.size());
  if (bytes.size() >= 6 && std::memcmp(data, "bplist", 6) == 0) {
    if (auto error = internal::checkBinaryPropertyList(bytes, maximumDepth)) return error;
    plist_from_bin(data, length, &raw);
  } else {
    const std::string_view text(data, bytes.size());
    if (internal::looksLikeOldStylePropertyList(text)) {
      return internal::parseOldStylePropertyList(text, maximumDepth);
    }
    // XML forbids NUL characters, and libplist would cut keys short at one.
    if (text.find('\0') != std::string_view::npos) return corrupted("XML property list holds a NUL character");
    internal::XmlReals reals;
    if (auto error = internal::checkXmlPropertyList(text, maximumDepth, reals)) return error;
    plist_from_xml(data, length, &raw);
    PlistHandle root(raw);
    if (!root) return corrupted("not a well-formed property list");
    auto value = toValue(root.get(), 0, {}, &reals);
    if (!value || (!reals.misaligned && reals.next == reals.values.size())) return value;
    // libplist kept other reals than the text shows (a repeated key replaces an earlier
    // member): its own values are right only where the decimal point is '.'.
    if (std::string_view(std::localeconv()->decimal_point) != ".") {
      return corrupted("the reals of this property list cannot be read in the current numeric locale");
    }
    return toValue(root.get(), 0, {}, nullptr);
  }
  PlistHandle root(raw);
  if (!root) return corrupted("not a well-formed property list");
  return toValue(root.get(), 0, {}, nullptr);
}

Result<Value> PropertyList::parseFile(const std::filesystem::path& path) {
  auto bytes = readFile(path);
  if (!bytes) return bytes.error();
  auto value = parse(*bytes);
  if (!value) {
    const CodingError& error = *value.errorAs<CodingError>();
    return makeCodingError(error.code(), fmt::format("{} in {}", error.detail(), path.string()), error.codingPath());
  }
  return value;
}

Result<std::optional<Value::Dictionary>> PropertyList::load(const std::filesystem::path& path) {
  auto value = parseFile(path);
  if (!value) {
    const auto* error = value.errorAs<CodingError>();
    if (error && error->code() == Code::fileUnreadable) return std::optional<Value::Dictionary>();
    return value.error();
  }
  if (auto* dictionary = value->dictionary()) return std::optional<Value::Dictionary>(std::move(*dictionary));
  return std::optional<Value::Dictionary>();
}

namespace {

// libplist writes the year of a date without leading zeros ("505-01-02T..."), which no reader,
// libplist included, accepts. Text cannot hold a raw "<", so every "<date>" is an element.
std::string padDateYears(std::string xml) {
  static constexpr std::string_view kOpen = "<date>";
  std::string::size_type at = 0;
  while ((at = xml.find(kOpen, at)) != std::string::npos) {
    at += kOpen.size();
    std::string::size_type digits = 0;
    while (at + digits < xml.size() && xml[at + digits] >= '0' && xml[at + digits] <= '9') ++digits;
    if (digits > 0 && digits < 4 && at + digits < xml.size() && xml[at + digits] == '-') {
      xml.insert(at, 4 - digits, '0');
    }
  }
  return xml;
}

}  // namespace

Result<std::string> PropertyList::xmlData(const Value& value) {
  auto node = toNode(value, 0, {});
  if (!node) return node.error();
  char* raw = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(node->get(), &raw, &length);
  std::unique_ptr<char, MallocDeleter> xml(raw);
  if (!xml) return makeCodingError(Code::invalidValue, "value could not be written as a property list");
  return padDateYears(std::string(xml.get(), length));
}

Result<void> PropertyList::save(const Value::Dictionary& dictionary, const std::filesystem::path& path) {
  auto xml = xmlData(Value(dictionary));
  if (!xml) return xml.error();
  if (auto error = platform::DurableFile::write(path, *xml)) {
    return makeCodingError(Code::writeFailed, fmt::format("cannot write {}: {}", path.string(), error->description()));
  }
  return {};
}

}  // namespace vantelkit
