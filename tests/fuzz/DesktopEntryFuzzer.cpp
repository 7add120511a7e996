// Reads arbitrary bytes as a desktop entry file, in two locales. A refusal must name a line
// within the text, and an accepted entry's program must be an argument of its Exec; any
// crash, leak, hang or sanitizer report is a fault.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "vantelkit/applications/DesktopEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  for (std::string_view locale : {"C", "de_DE.UTF-8"}) {
    auto entry = vantelkit::DesktopEntry::parse(text, "fuzz.desktop", "/fuzz.desktop", locale);
    if (!entry) {
      const auto* error = entry.errorAs<vantelkit::DesktopEntryError>();
      if (!error || error->line() > lines) std::abort();
      continue;
    }
    if (entry->program) {
      auto arguments = vantelkit::DesktopEntry::splitExec(entry->exec.value_or(""));
      if (!arguments || std::find(arguments->begin(), arguments->end(), *entry->program) == arguments->end()) std::abort();
    }
  }
  return 0;
}
