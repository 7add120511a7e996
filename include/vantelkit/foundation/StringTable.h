// A table of localized texts read from a ".strings" file: the text form (UTF-8 or UTF-16,
// with or without byte-order marks, comments, quoted or bare keys and values, escapes) and the
// compiled form (a property list whose top level is a dictionary of texts).
// Thread safety: a value type; one owner at a time, const access from any thread.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "vantelkit/foundation/Error.h"

namespace vantelkit {

class StringTableError final : public Error {
 public:
  enum class Code {
    // The bytes are neither UTF-8 nor UTF-16 (an odd byte count after a UTF-16 mark, or
    // invalid UTF-8).
    invalidEncoding,
    // The text breaks the table syntax; line() tells where.
    syntax,
    // A property list whose top level is not a dictionary, or that does not parse.
    invalidPropertyList,
  };

  StringTableError(Code code, std::size_t line = 0) : _code(code), _line(line) {}
  Code code() const { return _code; }
  // The 1-based line of a syntax error; 0 for the other cases.
  std::size_t line() const { return _line; }

  std::string typeName() const override { return "StringTableError"; }
  std::string description() const override;
  std::string localizedDescription() const override;

 private:
  Code _code;
  std::size_t _line;
};

class StringTable {
 public:
  using Entries = std::map<std::string, std::string, std::less<>>;

  StringTable() = default;
  explicit StringTable(Entries entries) : _entries(std::move(entries)) {}

  // Parses the bytes of a ".strings" file. On failure answers none and, when error is not
  // null, stores a StringTableError there. A key given twice keeps its last value; a bare
  // `"key";` maps the key to itself. Values of a compiled table that are not texts are
  // skipped.
  static std::optional<StringTable> parse(std::string_view bytes, ErrorPtr* error = nullptr);

  // The text for key, or null when the table has no such key.
  const std::string* find(std::string_view key) const;
  std::size_t size() const { return _entries.size(); }
  bool empty() const { return _entries.empty(); }
  const Entries& entries() const { return _entries; }

  bool operator==(const StringTable&) const = default;

 private:
  Entries _entries;
};

}  // namespace vantelkit
