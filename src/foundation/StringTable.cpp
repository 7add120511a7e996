#include "vantelkit/foundation/StringTable.h"

#include <cstdint>

#include "foundation/internal/TextDecoding.h"
#include "vantelkit/foundation/PropertyList.h"
#include "vantelkit/foundation/Value.h"

namespace vantelkit {

std::string StringTableError::description() const {
  switch (_code) {
    case Code::invalidEncoding: return "invalidEncoding";
    case Code::syntax: return "syntax";
    case Code::invalidPropertyList: return "invalidPropertyList";
  }
  return "unknown";
}

std::string StringTableError::localizedDescription() const {
  switch (_code) {
    case Code::invalidEncoding: return "The string table is neither UTF-8 nor UTF-16 text.";
    case Code::syntax: return "The string table has a syntax error on line " + std::to_string(_line) + ".";
    case Code::invalidPropertyList: return "The compiled string table is not a dictionary property list.";
  }
  return description();
}

namespace {

// Reads the text form: `key = value;` entries (or `key;`), optionally inside one pair of
// braces, with /* */ and // comments between the tokens.
class TextTableParser {
 public:
  explicit TextTableParser(std::string_view text) : _text(text) {}

  std::optional<StringTable::Entries> parse() {
    StringTable::Entries entries;
    if (!skipTrivia()) return std::nullopt;
    const bool braced = peek() == '{';
    if (braced) {
      ++_position;
      if (!skipTrivia()) return std::nullopt;
    }
    while (!atEnd() && !(braced && peek() == '}')) {
      auto key = readString();
      if (!key || !skipTrivia()) return std::nullopt;
      std::string value;
      if (peek() == ';') {
        value = *key;
      } else {
        if (peek() != '=') return fail();
        ++_position;
        if (!skipTrivia()) return std::nullopt;
        auto parsed = readString();
        if (!parsed || !skipTrivia()) return std::nullopt;
        if (peek() != ';') return fail();
        value = std::move(*parsed);
      }
      ++_position;  // the ';'
      entries.insert_or_assign(std::move(*key), std::move(value));
      if (!skipTrivia()) return std::nullopt;
    }
    if (braced) {
      if (atEnd()) return fail();
      ++_position;  // the '}'
      if (!skipTrivia()) return std::nullopt;
      if (!atEnd()) return fail();
    }
    return entries;
  }

  std::size_t errorLine() const { return _errorLine; }

 private:
  bool atEnd() const { return _position >= _text.size(); }
  char peek() const { return atEnd() ? '\0' : _text[_position]; }

  std::nullopt_t fail() {
    if (_errorLine == 0) _errorLine = _line;
    return std::nullopt;
  }

  void advance() {
    if (_text[_position] == '\n') ++_line;
    ++_position;
  }

  // Skips white space, byte-order marks and comments. False on an unterminated comment.
  bool skipTrivia() {
    while (!atEnd()) {
      const char c = peek();
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
        advance();
      } else if (_text.substr(_position, 3) == "\xEF\xBB\xBF") {
        _position += 3;
      } else if (_text.substr(_position, 2) == "//") {
        while (!atEnd() && peek() != '\n') ++_position;
      } else if (_text.substr(_position, 2) == "/*") {
        const std::size_t start = _line;
        _position += 2;
        while (!atEnd() && _text.substr(_position, 2) != "*/") advance();
        if (atEnd()) {
          _errorLine = start;
          return false;
        }
        _position += 2;
      } else {
        break;
      }
    }
    return true;
  }

  static bool isBareCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           c == '/' || c == ':' || c == '.' || c == '-';
  }

  static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  std::optional<std::string> readString() {
    if (atEnd()) return fail();
    const char quote = peek();
    if (quote != '"' && quote != '\'') {
      const std::size_t start = _position;
      while (!atEnd() && isBareCharacter(peek())) ++_position;
      if (_position == start) return fail();
      return std::string(_text.substr(start, _position - start));
    }
    const std::size_t startLine = _line;
    ++_position;
    std::string out;
    while (true) {
      if (atEnd()) {
        _errorLine = startLine;
        return std::nullopt;
      }
      const char c = peek();
      if (c == quote) {
        ++_position;
        return out;
      }
      if (c != '\\') {
        out.push_back(c);
        advance();
        continue;
      }
      ++_position;
      if (atEnd()) {
        _errorLine = startLine;
        return std::nullopt;
      }
      readEscape(out);
    }
  }

  // Reads the escape after a backslash into out.
  void readEscape(std::string& out) {
    const char c = peek();
    switch (c) {
      case 'a': out.push_back('\a'); ++_position; return;
      case 'b': out.push_back('\b'); ++_position; return;
      case 'f': out.push_back('\f'); ++_position; return;
      case 'n': out.push_back('\n'); ++_position; return;
      case 'r': out.push_back('\r'); ++_position; return;
      case 't': out.push_back('\t'); ++_position; return;
      case 'v': out.push_back('\v'); ++_position; return;
      case 'U':
      case 'u': {
        ++_position;
        auto unit = readHexUnit();
        if (!unit) {
          out.push_back(c);
          return;
        }
        std::uint32_t codePoint = *unit;
        if (codePoint >= 0xD800 && codePoint <= 0xDBFF && _text.substr(_position, 2).size() == 2 &&
            _text[_position] == '\\' && (_text[_position + 1] == 'U' || _text[_position + 1] == 'u')) {
          const std::size_t save = _position;
          _position += 2;
          auto low = readHexUnit();
          if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (*low - 0xDC00);
          } else {
            _position = save;
          }
        }
        internal::appendUtf8(out, codePoint);  // an unpaired surrogate becomes U+FFFD
        return;
      }
      default:
        break;
    }
    if (c >= '0' && c <= '7') {
      std::uint32_t value = 0;
      for (int k = 0; k < 3 && !atEnd() && peek() >= '0' && peek() <= '7'; ++k, ++_position) {
        value = value * 8 + static_cast<std::uint32_t>(peek() - '0');
      }
      internal::appendUtf8(out, value);
      return;
    }
    // Any other character (quote, backslash, new line, a byte of a multi-byte character)
    // stands for itself.
    out.push_back(c);
    advance();
  }

  // Up to four hex digits; none when there is not even one.
  std::optional<std::uint32_t> readHexUnit() {
    std::uint32_t value = 0;
    int digits = 0;
    while (digits < 4 && !atEnd() && hexDigit(peek()) >= 0) {
      value = value * 16 + static_cast<std::uint32_t>(hexDigit(peek()));
      ++_position;
      ++digits;
    }
    if (digits == 0) return std::nullopt;
    return value;
  }

  std::string_view _text;
  std::size_t _position = 0;
  std::size_t _line = 1;
  std::size_t _errorLine = 0;
};

bool looksLikeXmlPropertyList(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                           text.front() == '\r')) {
    text.remove_prefix(1);
  }
  return text.substr(0, 5) == "<?xml" || text.substr(0, 6) == "<plist" || text.substr(0, 9) == "<!DOCTYPE";
}

std::optional<Value> readPropertyList(std::string_view bytes) {
  auto parsed = PropertyList::parse(bytes);
  if (!parsed) return std::nullopt;
  return std::move(parsed).value();
}

std::optional<StringTable> fromPropertyList(std::string_view bytes, ErrorPtr* error) {
  auto value = readPropertyList(bytes);
  const Value::Dictionary* dictionary = value ? value->dictionary() : nullptr;
  if (dictionary == nullptr) {
    if (error) *error = makeError<StringTableError>(StringTableError::Code::invalidPropertyList);
    return std::nullopt;
  }
  StringTable::Entries entries;
  for (const auto& [key, member] : *dictionary) {
    if (const std::string* text = member.text()) entries.emplace(key, *text);
  }
  return StringTable(std::move(entries));
}

}  // namespace

std::optional<StringTable> StringTable::parse(std::string_view bytes, ErrorPtr* error) {
  if (bytes.substr(0, 6) == "bplist") return fromPropertyList(bytes, error);
  auto text = internal::decodeMarkedText(bytes);
  if (!text) {
    if (error) *error = makeError<StringTableError>(StringTableError::Code::invalidEncoding);
    return std::nullopt;
  }
  if (looksLikeXmlPropertyList(*text)) return fromPropertyList(*text, error);
  TextTableParser parser(*text);
  auto entries = parser.parse();
  if (!entries) {
    if (error) *error = makeError<StringTableError>(StringTableError::Code::syntax, parser.errorLine());
    return std::nullopt;
  }
  return StringTable(std::move(*entries));
}

const std::string* StringTable::find(std::string_view key) const {
  auto it = _entries.find(key);
  return it == _entries.end() ? nullptr : &it->second;
}

}  // namespace vantelkit
