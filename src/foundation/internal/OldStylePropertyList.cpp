#include "foundation/internal/OldStylePropertyList.h"

#include <fmt/core.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "foundation/internal/CodingText.h"
#include "foundation/internal/Utf8.h"

namespace vantelkit::internal {

namespace {

using Code = CodingError::Code;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool isUnquotedCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c == '/' || c == ':' || c == '.' || c == '-';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Parser {
 public:
  Parser(std::string_view text, int maximumDepth) : _text(text), _maximumDepth(maximumDepth) {}

  Result<Value> parseDocument() {
    if (_text.substr(0, kByteOrderMark.size()) == kByteOrderMark) _position = kByteOrderMark.size();
    if (!skipSpaceAndComments()) return takeError();
    if (atEnd()) return fail("property list is empty");
    Result<Value> result{Value()};
    if (!parseValue(0, *result)) return takeError();
    if (!skipSpaceAndComments()) return takeError();
    if (!atEnd()) return fail("unexpected text after the property list");
    return result;
  }

 private:
  using PathPiece = std::variant<std::string, std::size_t>;

  bool atEnd() const { return _position >= _text.size(); }
  char peek() const { return _text[_position]; }

  int lineAt(std::size_t position) const {
    const auto end = _text.begin() + static_cast<std::ptrdiff_t>(std::min(position, _text.size()));
    return 1 + static_cast<int>(std::count(_text.begin(), end, '\n'));
  }

  std::string currentPath() const {
    std::string path;
    for (const auto& piece : _path) {
      if (const auto* key = std::get_if<std::string>(&piece)) {
        path = memberPath(path, *key);
      } else {
        path = indexPath(path, std::get<std::size_t>(piece));
      }
    }
    return path;
  }

  // Records the first error (with its line and path) and answers false.
  bool setError(Code code, std::string_view detail) {
    if (!_error) {
      _error = makeCodingError(code, fmt::format("old-style property list: {} at line {}", detail, lineAt(_position)),
                               currentPath());
    }
    return false;
  }
  CodingErrorPtr fail(std::string_view detail) {
    setError(Code::dataCorrupted, detail);
    return takeError();
  }
  CodingErrorPtr takeError() const { return _error; }

  // Skips white space and comments; false (with the error set) on an unterminated comment.
  bool skipSpaceAndComments() {
    while (!atEnd()) {
      const char c = peek();
      if (isSpace(c)) {
        ++_position;
      } else if (c == '/' && _position + 1 < _text.size() && _text[_position + 1] == '/') {
        const auto end = _text.find('\n', _position);
        _position = end == std::string_view::npos ? _text.size() : end + 1;
      } else if (c == '/' && _position + 1 < _text.size() && _text[_position + 1] == '*') {
        const auto end = _text.find("*/", _position + 2);
        if (end == std::string_view::npos) {
          setError(Code::dataCorrupted, "unterminated comment");
          return false;
        }
        _position = end + 2;
      } else {
        break;
      }
    }
    return true;
  }

  // The parse functions read one item into out and answer false (with the error set) when
  // it is not well formed.
  bool parseValue(int depth, Value& out) {
    const char c = peek();
    if (c == '{') return parseDictionary(depth, out);
    if (c == '(') return parseArray(depth, out);
    if (c == '<') return parseData(out);
    if (c == '"' || c == '\'' || isUnquotedCharacter(c)) {
      std::string text;
      if (!parseString(text)) return false;
      out = Value(std::move(text));
      return true;
    }
    return setError(Code::dataCorrupted, fmt::format("unexpected character '{}'", printable(c)));
  }

  static std::string printable(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) return std::string(1, c);
    return fmt::format("\\x{:02x}", byte);
  }

  bool enterContainer(int depth) {
    if (depth >= _maximumDepth) {
      setError(Code::limitExceeded, fmt::format("nesting deeper than {} levels", _maximumDepth));
      return false;
    }
    return true;
  }

  bool parseDictionary(int depth, Value& out) {
    if (!enterContainer(depth)) return false;
    ++_position;  // '{'
    Value::Dictionary dictionary;
    for (;;) {
      if (!skipSpaceAndComments()) return false;
      if (atEnd()) return setError(Code::dataCorrupted, "unterminated dictionary");
      if (peek() == '}') {
        ++_position;
        out = Value(std::move(dictionary));
        return true;
      }
      const char c = peek();
      if (c != '"' && c != '\'' && !isUnquotedCharacter(c)) {
        return setError(Code::dataCorrupted, "a dictionary key must be a string");
      }
      std::string key;
      if (!parseString(key)) return false;
      if (!skipSpaceAndComments()) return false;
      if (atEnd() || peek() != '=') return setError(Code::dataCorrupted, "expected '=' after a dictionary key");
      ++_position;
      if (!skipSpaceAndComments()) return false;
      if (atEnd()) return setError(Code::dataCorrupted, "missing value in a dictionary");
      _path.emplace_back(key);
      Value value;
      if (!parseValue(depth + 1, value)) return false;
      _path.pop_back();
      if (!skipSpaceAndComments()) return false;
      if (atEnd() || peek() != ';') return setError(Code::dataCorrupted, "expected ';' after a dictionary value");
      ++_position;
      dictionary.insert_or_assign(std::move(key), std::move(value));
    }
  }

  bool parseArray(int depth, Value& out) {
    if (!enterContainer(depth)) return false;
    ++_position;  // '('
    Value::Array array;
    for (;;) {
      if (!skipSpaceAndComments()) return false;
      if (atEnd()) return setError(Code::dataCorrupted, "unterminated array");
      // An empty array, or the end after a trailing comma.
      if (peek() == ')') {
        ++_position;
        out = Value(std::move(array));
        return true;
      }
      _path.emplace_back(array.size());
      array.emplace_back();
      if (!parseValue(depth + 1, array.back())) return false;
      _path.pop_back();
      if (!skipSpaceAndComments()) return false;
      if (atEnd()) return setError(Code::dataCorrupted, "unterminated array");
      if (peek() == ',') {
        ++_position;
      } else if (peek() != ')') {
        return setError(Code::dataCorrupted, "expected ',' or ')' in an array");
      }
    }
  }

  bool parseData(Value& out) {
    ++_position;  // '<'
    Data data;
    int high = -1;
    while (!atEnd() && peek() != '>') {
      const char c = peek();
      if (isSpace(c)) {
        ++_position;
        continue;
      }
      const int digit = hexValue(c);
      if (digit < 0) return setError(Code::dataCorrupted, "data holds a character that is not a hex digit");
      if (high < 0) {
        high = digit;
      } else {
        data.push_back(static_cast<std::uint8_t>(high << 4 | digit));
        high = -1;
      }
      ++_position;
    }
    if (atEnd()) return setError(Code::dataCorrupted, "unterminated data");
    if (high >= 0) return setError(Code::dataCorrupted, "data has an odd number of hex digits");
    ++_position;  // '>'
    out = Value(std::move(data));
    return true;
  }

  bool parseString(std::string& text) {
    const char c = peek();
    if (c != '"' && c != '\'') {
      const std::size_t start = _position;
      while (!atEnd() && isUnquotedCharacter(peek())) ++_position;
      text = std::string(_text.substr(start, _position - start));
      return true;
    }
    const char quote = c;
    ++_position;
    text.clear();
    for (;;) {
      if (atEnd()) return setError(Code::dataCorrupted, "unterminated string");
      const char next = _text[_position++];
      if (next == quote) break;
      if (next == '\0') return setError(Code::dataCorrupted, "a string holds a NUL character");
      if (next != '\\') {
        text += next;
        continue;
      }
      if (!appendEscape(text)) return false;
    }
    if (!isValidUtf8(text)) return setError(Code::dataCorrupted, "a string is not UTF-8");
    return true;
  }

  // Reads the escape after a backslash onto text.
  bool appendEscape(std::string& text) {
    if (atEnd()) {
      setError(Code::dataCorrupted, "unterminated string");
      return false;
    }
    const char c = _text[_position++];
    switch (c) {
      case 'a': text += '\a'; return true;
      case 'b': text += '\b'; return true;
      case 'f': text += '\f'; return true;
      case 'n': text += '\n'; return true;
      case 'r': text += '\r'; return true;
      case 't': text += '\t'; return true;
      case 'v': text += '\v'; return true;
      case 'U': return appendUnicodeEscape(text);
      default: break;
    }
    if (c >= '0' && c <= '7') {
      unsigned value = static_cast<unsigned>(c - '0');
      for (int i = 0; i < 2 && !atEnd() && peek() >= '0' && peek() <= '7'; ++i) {
        value = value * 8 + static_cast<unsigned>(_text[_position++] - '0');
      }
      if (value == 0) {
        setError(Code::dataCorrupted, "a string holds a NUL character");
        return false;
      }
      if (value > 0xFF) {
        setError(Code::dataCorrupted, "an octal escape above \\377");
        return false;
      }
      appendUtf8(text, value);
      return true;
    }
    if (c == '\0') {
      setError(Code::dataCorrupted, "a string holds a NUL character");
      return false;
    }
    // Any other character stands for itself (\" \' \\ and a backslash before a line break).
    text += c;
    return true;
  }

  // Up to four hex digits after "\U"; 0 when there are none.
  std::uint32_t readUtf16Unit() {
    std::uint32_t unit = 0;
    for (int i = 0; i < 4 && !atEnd() && hexValue(peek()) >= 0; ++i) {
      unit = unit * 16 + static_cast<std::uint32_t>(hexValue(_text[_position++]));
    }
    return unit;
  }

  bool appendUnicodeEscape(std::string& text) {
    std::uint32_t unit = readUtf16Unit();
    if (unit == 0) {
      setError(Code::dataCorrupted, "a \\U escape without hex digits or for a NUL character");
      return false;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      setError(Code::dataCorrupted, "a \\U escape for a lone low surrogate");
      return false;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      // A high surrogate must be followed at once by "\U" and its low surrogate.
      if (_text.substr(_position, 2) != "\\U") {
        setError(Code::dataCorrupted, "a \\U escape for a lone high surrogate");
        return false;
      }
      _position += 2;
      const std::uint32_t low = readUtf16Unit();
      if (low < 0xDC00 || low > 0xDFFF) {
        setError(Code::dataCorrupted, "a \\U escape for a lone high surrogate");
        return false;
      }
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    appendUtf8(text, unit);
    return true;
  }

  std::string_view _text;
  int _maximumDepth;
  std::size_t _position = 0;
  std::vector<PathPiece> _path;  // the keys and indices leading to the value being read
  CodingErrorPtr _error;
};

}  // namespace

bool looksLikeOldStylePropertyList(std::string_view text) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  std::size_t at = 0;
  // White space and comments; an XML document never starts with a comment of this kind.
  while (at < text.size()) {
    if (isSpace(text[at])) {
      ++at;
    } else if (text.substr(at, 2) == "//") {
      const auto end = text.find('\n', at);
      if (end == std::string_view::npos) return true;
      at = end + 1;
    } else if (text.substr(at, 2) == "/*") {
      const auto end = text.find("*/", at + 2);
      if (end == std::string_view::npos) return true;
      at = end + 2;
    } else {
      break;
    }
  }
  if (at >= text.size()) return false;
  const char c = text[at];
  if (c == '{' || c == '(' || c == '"' || c == '\'' || isUnquotedCharacter(c)) return true;
  if (c != '<') return false;
  // Data ("<0fbd>") rather than an XML element ("<dict>", "<data>"): hex digits and white
  // space up to the '>'.
  for (std::size_t i = at + 1; i < text.size(); ++i) {
    if (text[i] == '>') return true;
    if (hexValue(text[i]) < 0 && !isSpace(text[i])) return false;
  }
  return true;
}

Result<Value> parseOldStylePropertyList(std::string_view text, int maximumDepth) {
  return Parser(text, maximumDepth).parseDocument();
}

}  // namespace vantelkit::internal
