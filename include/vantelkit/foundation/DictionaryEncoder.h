// Encodes a C++ value into a dictionary keyed by text, by way of JSON: the value is written
// as a JSON object under the encoder's strategies for dates, data, non-finite reals and
// keys, and that object becomes a Value::Dictionary (objects become dictionaries, arrays
// arrays, numbers integers or reals, booleans booleans).
//
// A type opts in with a free function found by argument-dependent lookup, in the manner of
// nlohmann's to_json:
//
//   void encodeValue(vantelkit::EncodingContainer& container, const Event& event) {
//     container.encode("name", event.name);
//     container.encode("when", event.when);    // a Date: written per dateEncodingStrategy
//     container.encode("count", event.count);  // a std::optional: no member when empty
//   }
//
// Built in: bool, integers, float and double, std::string (and views), Date, Data, Value,
// std::optional, std::vector, std::map keyed by text, and nested types with encodeValue.
// Keys of a std::map are data and are never converted by the key strategy.
//
// Thread safety: a DictionaryEncoder may be shared for reading (encode is const); change
// its strategies from one thread at a time. An EncodingContainer belongs to the encode call
// that made it.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "vantelkit/foundation/CodingError.h"
#include "vantelkit/foundation/Result.h"
#include "vantelkit/foundation/Value.h"

namespace vantelkit {

class EncodingContainer;

namespace coding_detail {
struct EncodingContext;

template <class T>
concept HasEncodeValue = requires(EncodingContainer& container, const T& value) { encodeValue(container, value); };

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};
}  // namespace coding_detail

// The place one value goes: the top level, a member of an object or an element of an array.
// After the first failure every further call does nothing; the encoder reports that failure.
class EncodingContainer {
 public:
  // Writes value as a member of this container, which becomes an object. An empty
  // std::optional writes no member.
  template <class V>
  void encode(std::string_view key, const V& value) {
    if constexpr (coding_detail::IsOptional<V>::value) {
      if (!value) return;
      member(key).encode(*value);
    } else {
      member(key).encode(value);
    }
  }

  // Writes value as this container's own value.
  template <class V>
  void encode(const V& value) {
    if (hasFailed()) return;
    if constexpr (std::same_as<V, bool>) {
      encodeBoolean(value);
    } else if constexpr (std::integral<V> && std::is_signed_v<V>) {
      encodeInteger(static_cast<std::int64_t>(value));
    } else if constexpr (std::integral<V>) {
      encodeUnsigned(static_cast<std::uint64_t>(value));
    } else if constexpr (std::floating_point<V>) {
      encodeReal(static_cast<double>(value));
    } else if constexpr (std::convertible_to<const V&, std::string_view>) {
      encodeText(std::string_view(value));
    } else if constexpr (std::same_as<V, Date>) {
      encodeDate(value);
    } else if constexpr (std::same_as<V, Data>) {
      encodeData(value);
    } else if constexpr (std::same_as<V, Value>) {
      encodeValueTree(value);
    } else if constexpr (coding_detail::IsOptional<V>::value) {
      if (value) {
        encode(*value);
      } else {
        encodeNull();
      }
    } else if constexpr (coding_detail::HasEncodeValue<V>) {
      makeObject();
      encodeValue(*this, value);
    } else if constexpr (requires { typename V::mapped_type; typename V::key_type; }) {
      static_assert(std::convertible_to<const typename V::key_type&, std::string_view>,
                    "maps encode only with text keys");
      makeObject();
      for (const auto& [key, element] : value) {
        if (hasFailed()) return;
        rawMember(key).encode(element);
      }
    } else if constexpr (requires { typename V::value_type; value.begin(); value.end(); }) {
      makeArray();
      for (const auto& element : value) {
        if (hasFailed()) return;
        appendElement().encode(element);
      }
    } else {
      static_assert(sizeof(V) == 0, "no encodeValue(EncodingContainer&, const V&) found for this type");
    }
  }

  // The member named key (converted by the key strategy); this container becomes an object.
  EncodingContainer member(std::string_view key);
  // A member whose key is written as given, whatever the key strategy.
  EncodingContainer rawMember(std::string_view key);
  // A new element at the end; this container becomes an array. The element must be written
  // before the next appendElement() on the same container.
  EncodingContainer appendElement();

  // Marks the encoding as failed with invalidValue at this container's path.
  void fail(std::string detail);
  bool hasFailed() const;
  // Where this container is, as keys and indexes ("items[2].name").
  const std::string& codingPath() const { return _path; }

  void encodeBoolean(bool value);
  void encodeInteger(std::int64_t value);
  void encodeUnsigned(std::uint64_t value);
  void encodeReal(double value);
  void encodeText(std::string_view value);
  void encodeDate(Date value);
  void encodeData(const Data& value);
  void encodeValueTree(const Value& value);
  void encodeNull();
  // Makes this container an empty object or array (when it is not one already).
  void makeObject();
  void makeArray();

 private:
  friend class DictionaryEncoder;
  EncodingContainer(coding_detail::EncodingContext* context, nlohmann::json* node, std::string path)
      : _context(context), _node(node), _path(std::move(path)) {}

  coding_detail::EncodingContext* _context;
  nlohmann::json* _node;
  std::string _path;
};

class DictionaryEncoder {
 public:
  enum class DateEncodingStrategy {
    // The date's own coding: seconds since 2001-01-01T00:00:00Z, as a real.
    deferredToDate,
    secondsSince1970,
    millisecondsSince1970,
    // Text such as "2024-05-06T07:08:09Z", to the whole second.
    iso8601,
  };
  enum class DataEncodingStrategy {
    // The data's own coding: an array of its bytes as integers.
    deferredToData,
    // Standard base64 text with padding.
    base64,
  };
  // What to write for a non-finite real: fail (the default, none), or the given texts.
  struct NonConformingFloatEncodingStrategy {
    struct Texts {
      std::string positiveInfinity;
      std::string negativeInfinity;
      std::string nan;
      bool operator==(const Texts&) const = default;
    };
    std::optional<Texts> convertToString;

    static NonConformingFloatEncodingStrategy throwError() { return {}; }
    static NonConformingFloatEncodingStrategy convertingToString(std::string positiveInfinity,
                                                                 std::string negativeInfinity, std::string nan) {
      return {Texts{std::move(positiveInfinity), std::move(negativeInfinity), std::move(nan)}};
    }
    bool operator==(const NonConformingFloatEncodingStrategy&) const = default;
  };
  enum class KeyEncodingStrategy {
    useDefaultKeys,
    // "myURLValue" becomes "my_url_value".
    convertToSnakeCase,
  };

  DateEncodingStrategy dateEncodingStrategy = DateEncodingStrategy::deferredToDate;
  DataEncodingStrategy dataEncodingStrategy = DataEncodingStrategy::base64;
  NonConformingFloatEncodingStrategy nonConformingFloatEncodingStrategy;
  KeyEncodingStrategy keyEncodingStrategy = KeyEncodingStrategy::useDefaultKeys;

  // Encodes value. Fails with invalidValue when it does not encode to an object (a bare
  // number, text or array), for a non-finite real under the failing strategy, a text that is
  // not UTF-8, an unsigned integer above the signed 64-bit range, an empty optional inside
  // an array, a Value holding a keyed-archive UID, or whatever encodeValue reports.
  template <class T>
  Result<Value::Dictionary> encode(const T& value) const {
    return encodeWith([&value](EncodingContainer& container) { container.encode(value); });
  }

  // Converts a key as convertToSnakeCase does.
  static std::string convertToSnakeCase(std::string_view key);

 private:
  Result<Value::Dictionary> encodeWith(const std::function<void(EncodingContainer&)>& write) const;
};

}  // namespace vantelkit
