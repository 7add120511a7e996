// The disk map as one self-contained HTML file: a squarified treemap laid out by the
// d3-hierarchy script embedded at build time, with the map's data inline and a content
// security policy that forbids every request, so it opens offline in any browser.
// One caller at a time.
#pragma once

#include <string>

#include "vantelkit/scanning/DiskMap.h"

namespace vantel {

// True when the tool was built with the d3-hierarchy script (else no report can be made).
bool htmlReportAvailable();

// Writes the report of map (rootPath as its title) to file ("-" for stdout). Prints the
// reason and answers false when it cannot.
bool writeHtmlReport(const std::string& file, const vantelkit::DiskMap& map, const std::string& rootPath);

}  // namespace vantel
