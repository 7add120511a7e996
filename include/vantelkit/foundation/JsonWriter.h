// A streaming JSON writer: writes as it goes, in pieces of about 64 KiB handed to an
// OutputSink, so a tree of millions of entries needs no document in memory. Texts are
// escaped; bytes that are not valid UTF-8 become U+FFFD, and control characters (DEL
// included) are written as \u00XX, so the output is always valid JSON that strict readers
// accept. Numbers are written in the shortest form that reads back the same.
// Thread safety: one owner at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "vantelkit/foundation/OutputSink.h"
#include "vantelkit/foundation/Result.h"

namespace vantelkit {

class JsonWriter {
 public:
  explicit JsonWriter(OutputSink sink);
  // Flushes what is still buffered.
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
  // Null, for a value that is not known.
  void null();
  // Hands buffered output to the sink and asks it to flush; false once any write failed
  // (nothing more is handed to the sink after a failure).
  bool flush();
  // Ends the document with one newline and flushes; false when writing failed.
  bool endDocument();
  // The reason of the first failed write; empty when none failed.
  std::error_code error() const { return _error; }
  // Nothing when every write succeeded, else an OutputError with the first failure's reason.
  Result<void> outcome() const;

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

  OutputSink _sink;
  std::string _buffer;
  // For each open container: whether it already holds an element.
  std::vector<bool> _hasElement;
  bool _afterKey = false;
  std::error_code _error;
};

}  // namespace vantelkit
