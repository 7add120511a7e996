// A streaming JSON reader: hands out one token at a time with its line and column, checks
// the grammar as it goes and keeps no document, so inputs of any size and nesting depth
// (up to a limit) are read in constant stack. Strings may hold bytes that are not UTF-8
// (they are kept as they are); \u escapes become UTF-8, lone surrogates U+FFFD.
// One owner at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantelkit::internal {

class JsonPullReader {
 public:
  struct Token {
    enum class Kind { beginObject, endObject, beginArray, endArray, key, string, number, boolean, null, end };
    Kind kind = Kind::end;
    std::string text;           // key and string
    bool isInteger = false;     // number: fits a signed 64-bit integer
    std::int64_t integer = 0;   // number, when isInteger
    double real = 0;            // number
    bool flag = false;          // boolean
    std::size_t line = 1;       // where the token starts, 1-based
    std::size_t column = 1;     // in bytes, 1-based
  };

  // maxDepth: most containers open at once.
  explicit JsonPullReader(std::string_view text, std::size_t maxDepth = 10000);

  // The next token, or false after an error (see errorMessage(), errorLine(), errorColumn()).
  // After the whole document, answers Kind::end.
  bool next(Token& token);
  // Skips the value whose first token was just read (nothing to do for a scalar).
  bool skipValue(const Token& first);

  const std::string& errorMessage() const { return _error; }
  std::size_t errorLine() const { return _errorLine; }
  std::size_t errorColumn() const { return _errorColumn; }
  // Containers open now.
  std::size_t depth() const { return _stack.size(); }

 private:
  struct Frame {
    bool object;
    bool afterKey = false;
    bool afterComma = false;
    std::size_t count = 0;
  };
  void skipWhitespace();
  bool fail(std::string message);
  bool value(Token& token);
  bool string(std::string& out);
  bool number(Token& token);
  bool literal(std::string_view word);
  void mark(Token& token) const;

  std::string_view _text;
  std::size_t _pos = 0;
  std::size_t _line = 1;
  std::size_t _lineStart = 0;
  std::size_t _maxDepth;
  bool _started = false;
  bool _failed = false;
  std::vector<Frame> _stack;
  std::string _error;
  std::size_t _errorLine = 0;
  std::size_t _errorColumn = 0;
};

}  // namespace vantelkit::internal
