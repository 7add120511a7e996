#include "vantelkit/foundation/JsonWriter.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>

#include "foundation/internal/Utf8.h"

namespace vantelkit {

namespace {

void appendEscaped(std::string& out, std::string_view text) {
  static constexpr char digits[] = "0123456789abcdef";
  out += '"';
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != 0x7f && c != '"' && c != '\\') continue;
    out.append(text, runStart, i - runStart);  // the plain run before this character
    runStart = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        out += "\\u00";
        out += digits[c >> 4];
        out += digits[c & 15];
    }
  }
  out.append(text, runStart, text.size() - runStart);
  out += '"';
}
}  // namespace

JsonWriter::JsonWriter(OutputSink sink) : _sink(std::move(sink)) { _buffer.reserve(kFlushThreshold * 2); }

JsonWriter::~JsonWriter() { flush(); }

std::string JsonWriter::quoted(std::string_view text) {
  std::string out;
  appendQuoted(out, text);
  return out;
}

void JsonWriter::appendQuoted(std::string& out, std::string_view text) {
  // Most names are plain printable ASCII: one look at each byte, one copy.
  bool plain = true;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7f || byte == '"' || byte == '\\') {
      plain = false;
      break;
    }
  }
  if (plain) {
    out += '"';
    out.append(text);
    out += '"';
    return;
  }
  if (internal::isValidUtf8(text)) {
    appendEscaped(out, text);
  } else {
    appendEscaped(out, internal::replacingInvalidUtf8(text));
  }
}

void JsonWriter::appendNumber(std::string& out, std::int64_t number) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  out.append(digits, end);
}

void JsonWriter::write(std::string_view bytes) {
  _buffer.append(bytes);
  if (_buffer.size() >= kFlushThreshold) flush();
}

bool JsonWriter::flush() {
  if (!_error) {
    if (!_buffer.empty()) _error = _sink(_buffer);
    if (!_error) _error = _sink({});
  }
  _buffer.clear();
  return !_error;
}

Result<void> JsonWriter::outcome() const {
  if (_error) return std::make_shared<const OutputError>(_error);
  return {};
}

void JsonWriter::separate() {
  if (_afterKey) {
    _afterKey = false;
    return;
  }
  if (!_hasElement.empty()) {
    if (_hasElement.back()) _buffer += ',';
    _hasElement.back() = true;
  }
}

bool JsonWriter::endDocument() {
  _buffer += '\n';
  return flush();
}

void JsonWriter::beginObject() {
  separate();
  write("{");
  _hasElement.push_back(false);
}

void JsonWriter::endObject() {
  _hasElement.pop_back();
  write("}");
}

void JsonWriter::beginArray() {
  separate();
  write("[");
  _hasElement.push_back(false);
}

void JsonWriter::endArray() {
  _hasElement.pop_back();
  write("]");
}

void JsonWriter::key(std::string_view name) {
  separate();
  if (internal::isValidUtf8(name)) {
    appendEscaped(_buffer, name);
  } else {
    appendEscaped(_buffer, internal::replacingInvalidUtf8(name));
  }
  write(":");
  _afterKey = true;
}

void JsonWriter::value(std::string_view text) {
  separate();
  if (internal::isValidUtf8(text)) {
    appendEscaped(_buffer, text);
  } else {
    appendEscaped(_buffer, internal::replacingInvalidUtf8(text));
  }
  if (_buffer.size() >= kFlushThreshold) flush();
}

void JsonWriter::value(std::int64_t number) {
  separate();
  fmt::format_to(std::back_inserter(_buffer), "{}", number);
  if (_buffer.size() >= kFlushThreshold) flush();
}

void JsonWriter::value(double number) {
  separate();
  if (!std::isfinite(number)) {
    write("null");
    return;
  }
  fmt::format_to(std::back_inserter(_buffer), "{}", number);
  if (_buffer.size() >= kFlushThreshold) flush();
}

void JsonWriter::null() {
  separate();
  write("null");
}

void JsonWriter::value(bool flag) {
  separate();
  write(flag ? "true" : "false");
}

}  // namespace vantelkit
