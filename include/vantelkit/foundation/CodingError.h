// The error of property-list reading and writing and of dictionary coding, and
// CodingResult<T>, the value-or-error that those functions return instead of throwing.
// Thread safety: both are values; errors are immutable once made and may be shared freely.
#pragma once

#include <cassert>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "vantelkit/foundation/Error.h"

namespace vantelkit {

class CodingError final : public Error {
 public:
  enum class Code {
    // A file could not be read (missing, unreadable, a folder).
    fileUnreadable,
    // Writing a file, or putting it in place, failed.
    writeFailed,
    // The input is not well-formed: not a property list, not JSON, bad base64 or date text.
    dataCorrupted,
    // The input exceeds a safety limit: size, nesting depth or node count.
    limitExceeded,
    // A value cannot be written in the requested form (a non-finite real without a text to
    // stand for it, a text that is not UTF-8, a top level that is no dictionary).
    invalidValue,
    // A value has another type than the one asked for.
    typeMismatch,
    // A required key is absent.
    keyNotFound,
  };

  CodingError(Code code, std::string detail, std::string codingPath = {})
      : _code(code), _detail(std::move(detail)), _codingPath(std::move(codingPath)) {}

  Code code() const { return _code; }
  // What exactly went wrong, for people ("nesting deeper than 512 levels").
  const std::string& detail() const { return _detail; }
  // Where in the value it went wrong, as keys and indexes ("items[2].name"); empty for the
  // top level or where no position applies.
  const std::string& codingPath() const { return _codingPath; }

  std::string typeName() const override { return "CodingError"; }
  // The case name followed by the detail and path: "dataCorrupted(not a property list)".
  std::string description() const override;

  static std::string_view caseName(Code code);

 private:
  Code _code;
  std::string _detail;
  std::string _codingPath;
};

using CodingErrorPtr = std::shared_ptr<const CodingError>;

inline CodingErrorPtr makeCodingError(CodingError::Code code, std::string detail, std::string codingPath = {}) {
  return std::make_shared<const CodingError>(code, std::move(detail), std::move(codingPath));
}

// A T or the CodingError that prevented it. Test it (hasValue() or contextual bool) before
// reading value(); reading the value of a failure, or the error of a success, is a
// programming error (asserted in debug builds).
template <class T>
class CodingResult {
 public:
  CodingResult(T value) : _storage(std::in_place_index<0>, std::move(value)) {}
  CodingResult(CodingErrorPtr error) : _storage(std::in_place_index<1>, std::move(error)) {
    assert(std::get<1>(_storage) != nullptr);
  }

  bool hasValue() const { return _storage.index() == 0; }
  explicit operator bool() const { return hasValue(); }

  T& value() & { return *checkedValue(); }
  const T& value() const& { return *checkedValue(); }
  T&& value() && { return std::move(*checkedValue()); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return checkedValue(); }
  const T* operator->() const { return checkedValue(); }

  // The error of a failure.
  const CodingError& error() const { return *codingErrorPointer(); }
  // The error as the shared pointer that procedures and logging take.
  ErrorPtr errorPointer() const { return codingErrorPointer(); }
  CodingErrorPtr codingErrorPointer() const {
    auto* error = std::get_if<1>(&_storage);
    assert(error && "CodingResult holds a value, not an error");
    return error ? *error : nullptr;
  }

 private:
  T* checkedValue() {
    auto* value = std::get_if<0>(&_storage);
    assert(value && "CodingResult holds an error, not a value");
    return value;
  }
  const T* checkedValue() const {
    auto* value = std::get_if<0>(&_storage);
    assert(value && "CodingResult holds an error, not a value");
    return value;
  }

  std::variant<T, CodingErrorPtr> _storage;
};

// Success without a value, or an error.
template <>
class CodingResult<void> {
 public:
  CodingResult() = default;
  CodingResult(CodingErrorPtr error) : _error(std::move(error)) { assert(_error != nullptr); }

  bool hasValue() const { return _error == nullptr; }
  explicit operator bool() const { return hasValue(); }
  const CodingError& error() const {
    assert(_error && "CodingResult holds no error");
    return *_error;
  }
  ErrorPtr errorPointer() const { return _error; }
  CodingErrorPtr codingErrorPointer() const { return _error; }

 private:
  CodingErrorPtr _error;
};

}  // namespace vantelkit
