#include "diskmap/internal/JsonPullReader.h"

#include "foundation/internal/Utf8.h"

#include <charconv>

namespace vantelkit::internal {

JsonPullReader::JsonPullReader(std::string_view text, std::size_t maxDepth) : _text(text), _maxDepth(maxDepth) {}

void JsonPullReader::skipWhitespace() {
  while (_pos < _text.size()) {
    char c = _text[_pos];
    if (c == '\n') {
      ++_pos;
      ++_line;
      _lineStart = _pos;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      ++_pos;
    } else {
      break;
    }
  }
}

bool JsonPullReader::fail(std::string message) {
  if (!_failed) {
    _failed = true;
    _error = std::move(message);
    _errorLine = _line;
    _errorColumn = _pos - _lineStart + 1;
  }
  return false;
}

void JsonPullReader::mark(Token& token) const {
  token.line = _line;
  token.column = _pos - _lineStart + 1;
}

bool JsonPullReader::next(Token& token) {
  if (_failed) return false;
  skipWhitespace();
  mark(token);
  if (_stack.empty()) {
    if (_started) {
      if (_pos == _text.size()) {
        token.kind = Token::Kind::end;
        return true;
      }
      return fail("unexpected text after the end of the document");
    }
    _started = true;
    return value(token);
  }
  if (_pos == _text.size()) return fail("unexpected end of input");
  Frame& frame = _stack.back();
  char c = _text[_pos];
  if (frame.object) {
    if (frame.afterKey) {
      frame.afterKey = false;
      return value(token);
    }
    if (c == '}' && !frame.afterComma) {
      ++_pos;
      _stack.pop_back();
      token.kind = Token::Kind::endObject;
      return true;
    }
    if (frame.count > 0 && !frame.afterComma) {
      if (c != ',') return fail("expected ',' or '}'");
      ++_pos;
      frame.afterComma = true;
      skipWhitespace();
      mark(token);
      if (_pos == _text.size()) return fail("unexpected end of input");
      c = _text[_pos];
    }
    if (c != '"') return fail("expected a member name in double quotes");
    if (!string(token.text)) return false;
    skipWhitespace();
    if (_pos == _text.size() || _text[_pos] != ':') return fail("expected ':'");
    ++_pos;
    frame.afterKey = true;
    frame.afterComma = false;
    ++frame.count;
    token.kind = Token::Kind::key;
    return true;
  }
  if (c == ']' && !frame.afterComma) {
    ++_pos;
    _stack.pop_back();
    token.kind = Token::Kind::endArray;
    return true;
  }
  if (frame.count > 0 && !frame.afterComma) {
    if (c != ',') return fail("expected ',' or ']'");
    ++_pos;
    skipWhitespace();
    mark(token);
  }
  frame.afterComma = false;
  ++frame.count;
  return value(token);
}

bool JsonPullReader::value(Token& token) {
  if (_pos == _text.size()) return fail("unexpected end of input");
  char c = _text[_pos];
  switch (c) {
    case '{':
    case '[':
      if (_stack.size() >= _maxDepth) return fail("nested more than " + std::to_string(_maxDepth) + " levels deep");
      ++_pos;
      _stack.push_back(Frame{c == '{'});
      token.kind = c == '{' ? Token::Kind::beginObject : Token::Kind::beginArray;
      return true;
    case '"':
      token.kind = Token::Kind::string;
      return string(token.text);
    case 't':
    case 'f':
      token.kind = Token::Kind::boolean;
      token.flag = c == 't';
      return literal(c == 't' ? "true" : "false");
    case 'n':
      token.kind = Token::Kind::null;
      return literal("null");
    default:
      if (c == '-' || (c >= '0' && c <= '9')) return number(token);
      return fail("unexpected character");
  }
}

bool JsonPullReader::literal(std::string_view word) {
  if (_text.substr(_pos, word.size()) != word) return fail("unexpected character");
  _pos += word.size();
  return true;
}

bool JsonPullReader::number(Token& token) {
  std::size_t start = _pos;
  auto digit = [this] { return _pos < _text.size() && _text[_pos] >= '0' && _text[_pos] <= '9'; };
  if (_text[_pos] == '-') ++_pos;
  if (!digit()) return fail("invalid number");
  if (_text[_pos] == '0') {
    ++_pos;
  } else {
    while (digit()) ++_pos;
  }
  bool integral = true;
  if (_pos < _text.size() && _text[_pos] == '.') {
    integral = false;
    ++_pos;
    if (!digit()) return fail("invalid number");
    while (digit()) ++_pos;
  }
  if (_pos < _text.size() && (_text[_pos] == 'e' || _text[_pos] == 'E')) {
    integral = false;
    ++_pos;
    if (_pos < _text.size() && (_text[_pos] == '+' || _text[_pos] == '-')) ++_pos;
    if (!digit()) return fail("invalid number");
    while (digit()) ++_pos;
  }
  const char* first = _text.data() + start;
  const char* last = _text.data() + _pos;
  token.kind = Token::Kind::number;
  token.isInteger = false;
  if (integral) {
    auto [end, error] = std::from_chars(first, last, token.integer);
    token.isInteger = error == std::errc() && end == last;
  }
  auto [end, error] = std::from_chars(first, last, token.real);
  if (error != std::errc() && !token.isInteger) token.real = 0;
  (void)end;
  return true;
}

bool JsonPullReader::string(std::string& out) {
  out.clear();
  ++_pos;  // the opening quote
  auto hex4 = [this](std::uint32_t& code) {
    if (_pos + 4 > _text.size()) return false;
    code = 0;
    for (int i = 0; i < 4; ++i) {
      char c = _text[_pos++];
      code <<= 4;
      if (c >= '0' && c <= '9') code |= static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') code |= static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') code |= static_cast<std::uint32_t>(c - 'A' + 10);
      else return false;
    }
    return true;
  };
  while (_pos < _text.size()) {
    auto c = static_cast<unsigned char>(_text[_pos]);
    if (c == '"') {
      ++_pos;
      return true;
    }
    if (c < 0x20) return fail("control character in a string");
    if (c != '\\') {
      out += static_cast<char>(c);
      ++_pos;
      continue;
    }
    ++_pos;
    if (_pos == _text.size()) break;
    char escape = _text[_pos++];
    switch (escape) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case '/': out += '/'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        std::uint32_t code;
        if (!hex4(code)) return fail("invalid \\u escape");
        if (code >= 0xD800 && code < 0xDC00 && _text.substr(_pos, 2) == "\\u") {
          std::size_t saved = _pos;
          _pos += 2;
          std::uint32_t low;
          if (!hex4(low)) return fail("invalid \\u escape");
          if (low >= 0xDC00 && low < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else {
            _pos = saved;  // the second escape stands on its own
            code = 0xFFFD;
          }
        } else if (code >= 0xD800 && code < 0xE000) {
          code = 0xFFFD;
        }
        appendUtf8(out, code);
        break;
      }
      default:
        --_pos;
        return fail("invalid escape in a string");
    }
  }
  return fail("unterminated string");
}

bool JsonPullReader::skipValue(const Token& first) {
  if (first.kind != Token::Kind::beginObject && first.kind != Token::Kind::beginArray) return true;
  std::size_t target = _stack.size() - 1;
  Token token;
  while (_stack.size() > target) {
    if (!next(token)) return false;
  }
  return true;
}

}  // namespace vantelkit::internal
