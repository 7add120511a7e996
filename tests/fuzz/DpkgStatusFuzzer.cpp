// Reads arbitrary bytes as dpkg's status file. Every package kept must have a name and a
// version, and a size that is not negative; any crash, leak, hang or sanitizer report is a
// fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "vantelkit/formats/DpkgStatus.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& [name, package] : vantelkit::parseDpkgStatus(text)) {
    if (name.empty() || name != package.name || package.version.empty()) std::abort();
    if (package.installedSize && *package.installedSize < 0) std::abort();
  }
  (void)vantelkit::dpkgListPackageName(text);
  return 0;
}
