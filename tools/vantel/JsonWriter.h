// A streaming JSON writer for the tool's machine-readable output: writes as it goes, so a
// tree of millions of nodes needs no document in memory. Texts are escaped; bytes that are
// not valid UTF-8 become U+FFFD, and control characters (DEL included) are written as
// \u00XX, so the output is always valid JSON that strict readers accept.
// One owner at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vantel {

class JsonWriter {
 public:
  // Writes to out (not closed by the writer).
  explicit JsonWriter(std::FILE* out);
  ~JsonWriter();
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  void beginObject();
  void endObject();
  void beginArray();
  void endArray();
  // The key of the next member of the current object.
  void key(std::string_view name);
  void value(std::string_view text);
  void value(const char* text) { value(std::string_view(text)); }
  void value(std::int64_t number);
  void value(double number);
  void value(bool flag);
  // Writes any buffered output; answers false when writing failed.
  bool flush();
  // The system's error number of the first failed write, 0 when none failed.
  int error() const { return _error; }
  // Ends the document with one newline and flushes; answers false when writing failed.
  bool endDocument();
  // Null, for a value that is not known.
  void null();

  // text as a JSON string literal, quotes included.
  static std::string quoted(std::string_view text);
  // Appends quoted(text) to out.
  static void appendQuoted(std::string& out, std::string_view text);
  // Appends number's decimal digits to out.
  static void appendNumber(std::string& out, std::int64_t number);
  // A value given as finished JSON text (say, a whole object), appended piece by piece to
  // the buffer rawValueBuffer() gives (after the separator); rawValueDone() once it is whole.
  std::string& rawValueBuffer() {
    separate();
    return _buffer;
  }
  void rawValueDone() {
    if (_buffer.size() >= kFlushThreshold) flush();
  }

 private:
  static constexpr std::size_t kFlushThreshold = 1 << 16;
  void separate();
  void write(std::string_view bytes);

  std::FILE* _out;
  std::string _buffer;
  // For each open container: whether it already holds an element.
  std::vector<bool> _hasElement;
  bool _afterKey = false;
  bool _failed = false;
  int _error = 0;
};

}  // namespace vantel
