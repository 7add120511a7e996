#include "vantelkit/foundation/OutputSink.h"

#include "vantelkit/platform/FileStatus.h"

namespace vantelkit {

OutputSink stringSink(std::string& out) {
  return [&out](std::string_view bytes) {
    out.append(bytes);
    return std::error_code();
  };
}

OutputSink fileSink(std::FILE* file) {
  return [file](std::string_view bytes) {
    bool failed = !bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size();
    if (!failed && bytes.empty()) failed = std::fflush(file) != 0;
    return failed ? std::error_code(platform::lastErrorNumber(), std::generic_category()) : std::error_code();
  };
}

std::string OutputError::localizedDescription() const { return platform::errorDescription(_code.value()); }

}  // namespace vantelkit
