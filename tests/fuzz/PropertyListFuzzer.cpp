// Reads arbitrary bytes as a property list; whatever parses is written out as XML and read
// again, and must come back the same (dates rounded down to the second, as XML keeps them).
// Any crash, leak, hang, sanitizer report or changed value is a fault.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "vantelkit/foundation/PropertyList.h"

namespace {

using vantelkit::Value;

bool sameAfterRoundTrip(const Value& original, const Value& again) {
  if (original.type() != again.type()) return false;
  switch (original.type()) {
    case Value::Type::date: {
      // XML keeps whole seconds, rounded down.
      return std::floor(original.date()->secondsSince1970) == again.date()->secondsSince1970;
    }
    case Value::Type::real: {
      const double a = *original.real();
      const double b = *again.real();
      return (std::isnan(a) && std::isnan(b)) || a == b;
    }
    case Value::Type::array: {
      const auto& left = *original.array();
      const auto& right = *again.array();
      if (left.size() != right.size()) return false;
      for (std::size_t i = 0; i < left.size(); ++i) {
        if (!sameAfterRoundTrip(left[i], right[i])) return false;
      }
      return true;
    }
    case Value::Type::dictionary: {
      const auto& left = *original.dictionary();
      const auto& right = *again.dictionary();
      if (left.size() != right.size()) return false;
      for (auto l = left.begin(), r = right.begin(); l != left.end(); ++l, ++r) {
        if (l->first != r->first || !sameAfterRoundTrip(l->second, r->second)) return false;
      }
      return true;
    }
    default:
      return original == again;
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
  auto xml = PropertyList::xmlData(*value);
  if (!xml) return 0;
  auto again = PropertyList::parse(*xml);
  if (!again || !sameAfterRoundTrip(*value, *again)) __builtin_trap();
  return 0;
}
