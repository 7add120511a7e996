// Feeds arbitrary bytes to the information-dictionary reader of bundles (XML or binary
// property lists) and builds the bundle identity from what it reads.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vantelkit/applications/BundleInfo.h"
#include "vantelkit/formats/Bundle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto info = vantelkit::Bundle::parseInfoDictionary(bytes);
  if (!info) return 0;
  auto identity = vantelkit::BundleInfo::fromInfoDictionary(*info, "Fuzz.app");
  if (identity && identity->name.empty() && identity->identifier.empty() && !identity->vendor.empty()) {
    __builtin_trap();  // a vendor can only come from an identifier
  }
  return 0;
}
