// Checks of property-list input made before libplist reads it: libplist trusts sizes and
// offsets, recurses once per nesting level, copies shared objects, aborts on some keys and
// misreads malformed or locale-dependent scalar text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "vantelkit/foundation/CodingError.h"

namespace vantelkit::internal {

// Checks a binary property list ("bplist00"): trailer, offsets, object extents, references,
// dictionary keys, text (no NUL, well-formed UTF-16), integers within the signed 64-bit
// range, no cycles, nesting depth and the size of the tree it expands to.
CodingErrorPtr checkBinaryPropertyList(std::span<const std::uint8_t> bytes, int maximumDepth);

// The <real> values of an XML property list in document order, read by us: libplist reads
// them with strtod, which follows the process's numeric locale and reads "0.5" as 0 where
// the decimal point is a comma.
struct XmlReals {
  std::vector<double> values;
  std::size_t next = 0;
  bool misaligned = false;
};

// Checks an XML property list: element nesting, and the text of <integer>, <real>, <date>
// and <data> elements; collects the reals.
CodingErrorPtr checkXmlPropertyList(std::string_view text, int maximumDepth, XmlReals& reals);

}  // namespace vantelkit::internal
