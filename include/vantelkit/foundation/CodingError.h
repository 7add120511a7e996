// The error of property-list reading and writing and of dictionary coding; those functions
// answer a Result<T> that holds one of these when they fail.
// Thread safety: errors are immutable once made and may be shared freely.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

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

}  // namespace vantelkit
