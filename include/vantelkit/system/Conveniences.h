// Small conveniences on collections and URLs: safe element access, total and average of
// integers, the index of an element by identifier, concatenation of optional arrays, and a
// URL's localized name, query items and existence. (Size and point arithmetic live with the
// geometry types.)
// Thread safety: pure functions; the URL functions ask the file system and are safe from any
// thread.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "vantelkit/platform/URL.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

// The element at index, or none when index is outside the collection.
template <class Collection>
auto safe(const Collection& collection, std::ptrdiff_t index) -> std::optional<typename Collection::value_type> {
  const auto size = static_cast<std::ptrdiff_t>(std::size(collection));
  if (index < 0 || index >= size) return std::nullopt;
  return *std::next(std::begin(collection), index);
}

template <std::integral T>
T total(const std::vector<T>& values) {
  return std::accumulate(values.begin(), values.end(), T{0});
}

// The total divided by the count in integer arithmetic; zero for an empty array.
template <std::integral T>
T average(const std::vector<T>& values) {
  if (values.empty()) return T{0};
  return total(values) / static_cast<T>(values.size());
}

// The index of the first element with the same identifier as element (its identifier()
// or, failing that, its id), or none.
template <class T>
std::optional<std::size_t> indexByIdentifier(const std::vector<T>& values, const T& element) {
  const auto identifierOf = [](const T& value) {
    if constexpr (requires { value.identifier(); }) {
      return value.identifier();
    } else {
      return value.id;
    }
  };
  const auto wanted = identifierOf(element);
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (identifierOf(values[i]) == wanted) return i;
  }
  return std::nullopt;
}

// Concatenation, an absent array counting as empty.
template <class T>
std::vector<T> operator+(const std::optional<std::vector<T>>& left, const std::optional<std::vector<T>>& right) {
  std::vector<T> joined;
  if (left) joined = *left;
  if (right) joined.insert(joined.end(), right->begin(), right->end());
  return joined;
}

// The name of the item at url as the desktop shows it (its display name).
std::string localizedName(const FileURL& url);
// The URL's query items; none when it cannot be split into components or has no query.
std::optional<std::vector<URLQueryItem>> queryItems(const URL& url);
// Whether anything, file or folder, exists at the URL's path (a link is followed).
bool fileExists(const FileURL& url);

}  // namespace vantelkit
