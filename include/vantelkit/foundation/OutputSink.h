// Where a writer's output goes: a callable handed each piece of bytes in order, answering
// the system's error when a piece could not be written. Sinks for a string and an open file.
// Thread safety: a sink belongs to one writer at a time; the error type is immutable.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

#include "vantelkit/foundation/Error.h"

namespace vantelkit {

// Called with each piece, and with an empty piece when the writer flushes (a file sink then
// flushes its stream). Answers an empty error_code when the piece was written.
using OutputSink = std::function<std::error_code(std::string_view bytes)>;

// Appends to out, which must outlive the sink. Never fails.
OutputSink stringSink(std::string& out);
// Writes to file (left open; it must outlive the sink) and flushes it on an empty piece.
OutputSink fileSink(std::FILE* file);

// A write to a sink failed; the writer stops writing and answers this.
class OutputError final : public Error {
 public:
  explicit OutputError(std::error_code code) : _code(code) {}
  // The system's reason (compare with std::errc).
  std::error_code code() const { return _code; }
  std::string typeName() const override { return "OutputError"; }
  // The case name: "writeFailed".
  std::string description() const override { return "writeFailed"; }
  // The system's text for the reason ("No space left on device").
  std::string localizedDescription() const override;

 private:
  std::error_code _code;
};

}  // namespace vantelkit
