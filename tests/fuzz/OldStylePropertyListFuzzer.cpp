// Reads arbitrary bytes as a property list, aiming at the old-style text form (the seeds are
// old-style). Whatever parses into old-style types (text, data, arrays, dictionaries) is
// written back as old-style text with every string quoted and escaped, and as XML; both must
// read back the same. Any crash, leak, hang, sanitizer report or changed value is a fault.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include <fmt/format.h>

#include "vantelkit/foundation/PropertyList.h"

namespace {

using vantelkit::Value;

// The old-style text of value; false when value holds a type the form does not have.
bool writeOldStyle(const Value& value, std::string& out) {
  switch (value.type()) {
    case Value::Type::text: {
      out += '"';
      for (char c : *value.text()) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
      }
      out += '"';
      return true;
    }
    case Value::Type::data: {
      out += '<';
      for (std::uint8_t byte : *value.data()) out += fmt::format("{:02x}", byte);
      out += '>';
      return true;
    }
    case Value::Type::array: {
      out += '(';
      bool first = true;
      for (const Value& element : *value.array()) {
        if (!first) out += ", ";
        first = false;
        if (!writeOldStyle(element, out)) return false;
      }
      out += ')';
      return true;
    }
    case Value::Type::dictionary: {
      out += "{ ";
      for (const auto& [key, member] : *value.dictionary()) {
        if (!writeOldStyle(Value(key), out)) return false;
        out += " = ";
        if (!writeOldStyle(member, out)) return false;
        out += "; ";
      }
      out += '}';
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vantelkit::PropertyList;
  auto value = PropertyList::parse(std::span<const std::uint8_t>(data, size));
  if (!value) {
    // Every failure carries a message.
    if (value.error()->description().empty()) __builtin_trap();
    return 0;
  }
  std::string text;
  if (!writeOldStyle(*value, text)) return 0;
  auto again = PropertyList::parse(text);
  if (!again || *again != *value) __builtin_trap();
  auto xml = PropertyList::xmlData(*value);
  if (!xml) return 0;  // text with control characters XML cannot carry
  auto fromXml = PropertyList::parse(*xml);
  if (!fromXml || *fromXml != *value) __builtin_trap();
  return 0;
}
