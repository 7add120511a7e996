// Reads arbitrary bytes as journald.conf and as a size; also as names under /var/log. Any
// crash, leak, hang or sanitizer report is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "vantelkit/formats/JournaldConfiguration.h"
#include "vantelkit/formats/LogFileNames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto configured = vantelkit::applyJournaldConfiguration(text, std::uint64_t{7});
  if (vantelkit::journalCap(configured, 1000) != configured.value_or(100)) std::abort();
  (void)vantelkit::parseJournalSize(text);
  const auto kind = vantelkit::classifyJournalFileName(text);
  if (kind != vantelkit::JournalFileKind::notJournal && !text.ends_with(".journal") && !text.ends_with(".journal~"))
    std::abort();
  (void)vantelkit::classifyLogFileName(text);
  return 0;
}
