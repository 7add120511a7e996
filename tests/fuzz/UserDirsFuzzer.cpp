// Reads arbitrary bytes as a user-dirs.dirs file. Every folder must be absolute and free of
// the quoting characters the parser removes; any crash, leak, hang or sanitizer report is a
// fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "vantelkit/platform/Paths.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& [name, folder] : vantelkit::platform::Paths::parseUserDirs(text, "/home/user")) {
    if (name.empty() || folder.empty() || folder.front() != '/') std::abort();
  }
  return 0;
}
