// Reading property lists (XML, binary or the old-style text form) into a Value and writing a
// Value as an XML property list (version 1.0, dictionary keys in sorted order). Input is checked against size, depth
// and node-count limits first, so hostile bytes give an error, never a crash or a hang.
// Thread safety: stateless; every function is safe to call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "vantelkit/foundation/CodingError.h"
#include "vantelkit/foundation/Result.h"
#include "vantelkit/foundation/Value.h"

namespace vantelkit {

class PropertyList {
 public:
  PropertyList() = delete;

  // Inputs larger than this are refused (limitExceeded).
  static constexpr std::size_t maximumSize = std::size_t{256} * 1024 * 1024;
  // Arrays and dictionaries nested deeper than this are refused, in input and output.
  static constexpr int maximumDepth = 512;

  // Parses the bytes of an XML, binary or old-style property list, of any top-level type.
  // Mapping: string and key to text, integer to integer (unsigned values above the signed
  // 64-bit range wrap), real, boolean, date (seconds since 1970), data, array, dictionary,
  // and UID to ArchiveUid; an XML dictionary whose only key is "CF$UID" with an integer is
  // the XML form of a UID and becomes an ArchiveUid too. The old-style form
  // ({ name = "Old Style"; list = (a, "b c"); bytes = <0fbd>; } with // and /* */ comments)
  // knows only strings, data, arrays and dictionaries: numbers and dates in it stay text.
  // Text and keys must be UTF-8. Fails with dataCorrupted or limitExceeded.
  static Result<Value> parse(std::span<const std::uint8_t> bytes);
  static Result<Value> parse(std::string_view bytes);

  // Reads and parses a whole file. Fails with fileUnreadable when the file cannot be read,
  // otherwise as parse().
  static Result<Value> parseFile(const std::filesystem::path& path);

  // The top-level dictionary of the property-list file at path. None when the file cannot
  // be read (missing or unreadable) or when its top level is not a dictionary; an error
  // when its bytes are not a property list.
  static Result<std::optional<Value::Dictionary>> load(const std::filesystem::path& path);

  // The value as an XML property list (UTF-8, version 1.0). Dictionary keys come out sorted
  // by their bytes; dates are rounded down to the whole second (the XML form has no
  // fractions). Fails with invalidValue for a text or key that is not UTF-8 or holds a NUL
  // character or a date outside the years 0 to 9999, and with limitExceeded for nesting
  // deeper than maximumDepth.
  static Result<std::string> xmlData(const Value& value);

  // Writes the dictionary as an XML property list to path, atomically and durably
  // (platform::DurableFile): readers, and the disk after a crash, see either the old file or
  // the whole new one. A symbolic link at path is replaced, not written through; the new file
  // has default permissions. Fails as xmlData() does, or with writeFailed (no space, a
  // read-only or missing folder, a folder at path...), which leaves the old file as it was
  // unless only the last step, flushing the folder, failed.
  static Result<void> save(const Value::Dictionary& dictionary, const std::filesystem::path& path);
};

}  // namespace vantelkit
