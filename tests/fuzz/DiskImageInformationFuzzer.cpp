// Reads arbitrary bytes as the disk-image tool's output and walks it for a device, as the
// disk-image check does. Any crash, leak, hang or sanitizer report is a fault.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vantelkit/foundation/PropertyList.h"
#include "vantelkit/system/DiskImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto parsed = vantelkit::PropertyList::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!parsed) return 0;
  (void)vantelkit::imageInformationContainsDevice(*parsed, "/dev/disk9s1");
  (void)vantelkit::imageInformationContainsDevice(*parsed, "");
  return 0;
}
