// Result<T>: a value, or the Error that prevented it. Every call of the library that can fail
// answers one of these instead of throwing.
// Thread safety: a value type; copies may be used on different threads, the error it holds
// is immutable.
#pragma once

#include <cassert>
#include <concepts>
#include <memory>
#include <type_traits>
#include <utility>
#include <variant>

#include "vantelkit/foundation/Error.h"

namespace vantelkit {

// Test it (hasValue() or contextual bool) before reading value(); reading the value of a
// failure, or the error of a success, is a programming error (asserted in debug builds).
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : _storage(std::in_place_index<0>, std::move(value)) {}
  // error: not null.
  Result(ErrorPtr error) : _storage(std::in_place_index<1>, std::move(error)) {
    assert(std::get<1>(_storage) != nullptr);
  }
  template <std::derived_from<Error> E>
  Result(std::shared_ptr<const E> error) : Result(ErrorPtr(std::move(error))) {}
  template <std::derived_from<Error> E>
  Result(std::shared_ptr<E> error) : Result(ErrorPtr(std::move(error))) {}

  bool hasValue() const { return _storage.index() == 0; }
  explicit operator bool() const { return hasValue(); }

  T& value() & { return *checkedValue(); }
  const T& value() const& { return *checkedValue(); }
  T&& value() && { return std::move(*checkedValue()); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*checkedValue()); }
  T* operator->() { return checkedValue(); }
  const T* operator->() const { return checkedValue(); }
  // The value, or fallback for a failure.
  template <class U>
  T valueOr(U&& fallback) const& {
    return hasValue() ? value() : static_cast<T>(std::forward<U>(fallback));
  }

  // The error of a failure (null for a success).
  ErrorPtr error() const {
    auto* error = std::get_if<1>(&_storage);
    return error ? *error : nullptr;
  }
  // The error as E when it is one, else null.
  template <class E>
  const E* errorAs() const {
    return vantelkit::errorAs<E>(error());
  }

 private:
  T* checkedValue() {
    auto* value = std::get_if<0>(&_storage);
    assert(value && "Result holds an error, not a value");
    return value;
  }
  const T* checkedValue() const {
    auto* value = std::get_if<0>(&_storage);
    assert(value && "Result holds an error, not a value");
    return value;
  }

  std::variant<T, ErrorPtr> _storage;
};

// Success without a value, or an error.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  // error: not null.
  Result(ErrorPtr error) : _error(std::move(error)) { assert(_error != nullptr); }
  template <std::derived_from<Error> E>
  Result(std::shared_ptr<const E> error) : Result(ErrorPtr(std::move(error))) {}
  template <std::derived_from<Error> E>
  Result(std::shared_ptr<E> error) : Result(ErrorPtr(std::move(error))) {}

  bool hasValue() const { return _error == nullptr; }
  explicit operator bool() const { return hasValue(); }
  const ErrorPtr& error() const { return _error; }
  template <class E>
  const E* errorAs() const {
    return vantelkit::errorAs<E>(_error);
  }

 private:
  ErrorPtr _error;
};

}  // namespace vantelkit
