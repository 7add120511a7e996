// Reads arbitrary bytes as a mount table. Every entry must have an absolute mount point; any
// crash, leak, hang or sanitizer report is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "vantelkit/platform/Volumes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& entry : vantelkit::platform::parseMountInfo(text)) {
    if (entry.mountPoint.empty() || entry.mountPoint.front() != '/') std::abort();
  }
  return 0;
}
