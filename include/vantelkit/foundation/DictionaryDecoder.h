// Decodes a C++ value from a dictionary keyed by text, by way of JSON: the dictionary becomes
// a JSON object and the value is read from it under the decoder's strategies for dates,
// data, non-finite reals and keys.
//
// A type opts in with a free function found by argument-dependent lookup, in the manner of
// nlohmann's from_json:
//
//   void decodeValue(const vantelkit::DecodingContainer& container, Event& event) {
//     container.decode("name", event.name);    // required: keyNotFound when absent
//     container.decode("when", event.when);    // a Date: read per dateDecodingStrategy
//     container.decode("count", event.count);  // a std::optional: none when absent or null
//   }
//
// Built in: bool, integers (range-checked), float and double, std::string, Date, Data,
// Value, std::optional, std::vector, std::map keyed by text, and nested types with
// decodeValue. Dates and data that the dictionary already holds as such (a property list's
// <date> and <data>) are read as they are, whatever the strategy.
//
// Thread safety: a DictionaryDecoder may be shared for reading (decode is const); change its
// strategies from one thread at a time. A DecodingContainer belongs to the decode call that
// made it.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <limits>
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

class DecodingContainer;

namespace coding_detail {
struct DecodingContext;

template <class T>
concept HasDecodeValue = requires(const DecodingContainer& container, T& value) { decodeValue(container, value); };

template <class T>
struct IsDecodableOptional : std::false_type {};
template <class T>
struct IsDecodableOptional<std::optional<T>> : std::true_type {};
}  // namespace coding_detail

// One value being read: the top level, a member of an object or an element of an array.
// The decode functions answer false on failure; the first failure is what the decoder
// reports, and every call after it does nothing and answers false.
class DecodingContainer {
 public:
  // Reads the member named key (matched under the key strategy) into out. Fails with
  // keyNotFound when there is no such member, except that a std::optional becomes none when
  // the member is absent or null.
  template <class V>
  bool decode(std::string_view key, V& out) const {
    if (hasFailed() || !requireObject()) return false;
    auto child = member(key);
    if constexpr (coding_detail::IsDecodableOptional<V>::value) {
      if (!child || child->isNull()) {
        out.reset();
        return !hasFailed();
      }
    } else if (!child) {
      failKeyNotFound(key);
      return false;
    }
    return child->decode(out);
  }

  // Reads this container's own value into out.
  template <class V>
  bool decode(V& out) const {
    if (hasFailed()) return false;
    if constexpr (std::same_as<V, bool>) {
      return readBoolean(out);
    } else if constexpr (std::integral<V> && std::is_signed_v<V>) {
      std::int64_t value = 0;
      if (!readInteger(value)) return false;
      if (value < std::numeric_limits<V>::min() || value > std::numeric_limits<V>::max()) {
        return failNumberOutOfRange(sizeof(V) * 8, "signed integer");
      }
      out = static_cast<V>(value);
      return true;
    } else if constexpr (std::integral<V>) {
      std::uint64_t value = 0;
      if (!readUnsigned(value)) return false;
      if (value > std::numeric_limits<V>::max()) return failNumberOutOfRange(sizeof(V) * 8, "unsigned integer");
      out = static_cast<V>(value);
      return true;
    } else if constexpr (std::floating_point<V>) {
      double value = 0;
      if (!readReal(value)) return false;
      if constexpr (sizeof(V) < sizeof(double)) {
        if (value > std::numeric_limits<V>::max() || value < std::numeric_limits<V>::lowest()) {
          return failNumberOutOfRange(sizeof(V) * 8, "real");
        }
      }
      out = static_cast<V>(value);
      return true;
    } else if constexpr (std::same_as<V, std::string>) {
      return readText(out);
    } else if constexpr (std::same_as<V, Date>) {
      return readDate(out);
    } else if constexpr (std::same_as<V, Data>) {
      return readData(out);
    } else if constexpr (std::same_as<V, Value>) {
      return readValueTree(out);
    } else if constexpr (coding_detail::IsDecodableOptional<V>::value) {
      if (isNull()) {
        out.reset();
        return true;
      }
      typename V::value_type inner{};
      if (!decode(inner)) return false;
      out = std::move(inner);
      return true;
    } else if constexpr (coding_detail::HasDecodeValue<V>) {
      decodeValue(*this, out);
      return !hasFailed();
    } else if constexpr (requires { typename V::mapped_type; typename V::key_type; }) {
      static_assert(std::same_as<typename V::key_type, std::string>, "maps decode only with text keys");
      if (!requireObject()) return false;
      V result;
      for (const std::string& key : keys()) {
        typename V::mapped_type element{};
        if (!rawMember(key).decode(element)) return false;
        result.emplace(key, std::move(element));
      }
      out = std::move(result);
      return true;
    } else if constexpr (requires(V& v) { typename V::value_type; v.push_back(typename V::value_type{}); }) {
      if (!requireArray()) return false;
      V result;
      const std::size_t size = count();
      for (std::size_t i = 0; i < size; ++i) {
        typename V::value_type item{};
        if (!element(i).decode(item)) return false;
        result.push_back(std::move(item));
      }
      out = std::move(result);
      return true;
    } else {
      static_assert(sizeof(V) == 0, "no decodeValue(const DecodingContainer&, V&) found for this type");
    }
  }

  // Whether this container is an object with a member matching key.
  bool contains(std::string_view key) const;
  // The member matching key under the key strategy; none when absent. Fails with
  // typeMismatch when this container is not an object.
  std::optional<DecodingContainer> member(std::string_view key) const;
  // The member with exactly this key, whatever the key strategy; must exist.
  DecodingContainer rawMember(const std::string& key) const;
  // The keys of an object, as written.
  std::vector<std::string> keys() const;
  // The number of elements of an array, and one of them (index below count()).
  std::size_t count() const;
  DecodingContainer element(std::size_t index) const;

  bool isNull() const;
  bool isObject() const;
  bool isArray() const;
  // Fails with typeMismatch unless this container is an object (or an array).
  bool requireObject() const;
  bool requireArray() const;

  // Marks the decoding as failed with dataCorrupted at this container's path; answers false.
  bool fail(std::string detail) const;
  bool hasFailed() const;
  // Where this container is, as keys and indexes ("items[2].name").
  const std::string& codingPath() const { return _path; }

  bool readBoolean(bool& out) const;
  bool readInteger(std::int64_t& out) const;
  bool readUnsigned(std::uint64_t& out) const;
  bool readReal(double& out) const;
  bool readText(std::string& out) const;
  bool readDate(Date& out) const;
  bool readData(Data& out) const;
  bool readValueTree(Value& out) const;

 private:
  friend class DictionaryDecoder;
  DecodingContainer(coding_detail::DecodingContext* context, const nlohmann::json* node, std::string path)
      : _context(context), _node(node), _path(std::move(path)) {}

  void failKeyNotFound(std::string_view key) const;
  bool failNumberOutOfRange(std::size_t bits, std::string_view kind) const;

  coding_detail::DecodingContext* _context;
  const nlohmann::json* _node;
  std::string _path;
};

class DictionaryDecoder {
 public:
  enum class DateDecodingStrategy {
    // The date's own coding: seconds since 2001-01-01T00:00:00Z.
    deferredToDate,
    secondsSince1970,
    millisecondsSince1970,
    // Text such as "2024-05-06T07:08:09Z" or "2024-05-06T09:08:09+02:00" (a fraction of a
    // second is accepted).
    iso8601,
  };
  enum class DataDecodingStrategy {
    // The data's own coding: an array of byte values 0 to 255.
    deferredToData,
    // Standard base64 text with padding.
    base64,
  };
  // How a non-finite real may appear: not at all (the default, none), or as the given texts.
  struct NonConformingFloatDecodingStrategy {
    struct Texts {
      std::string positiveInfinity;
      std::string negativeInfinity;
      std::string nan;
      bool operator==(const Texts&) const = default;
    };
    std::optional<Texts> convertFromString;

    static NonConformingFloatDecodingStrategy throwError() { return {}; }
    static NonConformingFloatDecodingStrategy convertingFromString(std::string positiveInfinity,
                                                                   std::string negativeInfinity, std::string nan) {
      return {Texts{std::move(positiveInfinity), std::move(negativeInfinity), std::move(nan)}};
    }
    bool operator==(const NonConformingFloatDecodingStrategy&) const = default;
  };
  enum class KeyDecodingStrategy {
    useDefaultKeys,
    // A member "my_url_value" is found for the key "myUrlValue" (its camel-case form) and for
    // the key "myURLValue" (whose snake-case form it is).
    convertFromSnakeCase,
  };

  DateDecodingStrategy dateDecodingStrategy = DateDecodingStrategy::deferredToDate;
  DataDecodingStrategy dataDecodingStrategy = DataDecodingStrategy::base64;
  NonConformingFloatDecodingStrategy nonConformingFloatDecodingStrategy;
  KeyDecodingStrategy keyDecodingStrategy = KeyDecodingStrategy::useDefaultKeys;

  // Decodes a T from the dictionary. Fails with keyNotFound, typeMismatch or dataCorrupted
  // (numbers that do not fit, bad base64 or date text), or whatever decodeValue reports.
  // T must be default-constructible.
  template <class T>
  Result<T> decode(const Value::Dictionary& dictionary) const {
    T value{};
    auto decoded = decodeWith(dictionary, [&value](const DecodingContainer& container) { container.decode(value); });
    if (!decoded) return decoded.error();
    return value;
  }

  // Converts a key as convertFromSnakeCase does: "my_url_value" becomes "myUrlValue".
  static std::string convertFromSnakeCase(std::string_view key);

 private:
  Result<void> decodeWith(const Value::Dictionary& dictionary,
                          const std::function<void(const DecodingContainer&)>& read) const;
};

}  // namespace vantelkit
