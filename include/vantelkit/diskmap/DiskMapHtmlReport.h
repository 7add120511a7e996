// A disk map as one self-contained HTML file: a squarified treemap laid out by the
// d3-hierarchy script embedded at build time, with the map's data inline and a content
// security policy that forbids every request, so it opens offline in any browser.
// Thread safety: the calls share nothing; several may read one finished map at once.
#pragma once

#include <string_view>

#include "vantelkit/foundation/OutputSink.h"
#include "vantelkit/foundation/Result.h"
#include "vantelkit/scanning/DiskMap.h"

namespace vantelkit {

class DiskMapHtmlReport {
 public:
  // True when the library was built with the d3-hierarchy script (else no report can be
  // made).
  static bool isAvailable();

  // Writes the report of map, titled path, to sink. A GeneralError featureNotAvalable when
  // the report is not available; the OutputError of the sink's first failure when a write
  // fails (nothing more is handed to the sink after it).
  static Result<void> write(const DiskMap& map, std::string_view path, const OutputSink& sink);
};

}  // namespace vantelkit
