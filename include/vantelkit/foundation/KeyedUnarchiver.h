// Reading keyed archives: the object graphs that the platform's keyed archiver writes as a
// binary or XML property list with "$archiver", "$version", "$objects" and "$top". The
// objects of the value classes (dictionaries, arrays, sets, strings, data, dates, numbers,
// booleans) become a Value; hostile input gives an error, never a crash, a hang or
// exponential work: every object reference is bounds-checked, reference cycles are refused,
// and nesting depth, archive size and result size are limited.
// Thread safety: stateless; every function is safe to call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "vantelkit/foundation/CodingError.h"
#include "vantelkit/foundation/Result.h"
#include "vantelkit/foundation/Value.h"

namespace vantelkit {

struct KeyedUnarchiverOptions {
  // An object of a class the decoder does not know becomes a dictionary of its decoded
  // members (null members left out) with "$classname" holding the class name. When false,
  // such an object is an error (typeMismatch), as it is for an unarchiver that has no class
  // of that name.
  bool decodeUnknownClasses = false;
};

class KeyedUnarchiver {
 public:
  KeyedUnarchiver() = delete;

  // Objects nested deeper than this are refused (limitExceeded).
  static constexpr int maximumDepth = 128;
  // Archives with more objects than this are refused (limitExceeded).
  static constexpr std::size_t maximumObjectCount = std::size_t{1} << 20;
  // Results with more values than this are refused (limitExceeded). An object referred to
  // from several places is decoded once but counted at every place, since the result holds a
  // copy at each; so a small archive cannot expand into a huge value.
  static constexpr std::size_t maximumValueCount = std::size_t{1} << 20;
  // Results holding more bytes of text and data than this are refused (limitExceeded),
  // counted the same way.
  static constexpr std::size_t maximumTextAndDataBytes = std::size_t{64} << 20;

  // Decodes the top-level object: the one named "root" in "$top", or the only one there when
  // "$top" has a single entry. None when that object is the null object ("$null").
  // Mapping: dictionaries (NS.keys and NS.objects; keys must be text) to dictionary, arrays,
  // sets and ordered sets (NS.objects) to array in archive order, strings (plain, NS.string
  // or UTF-8 NS.bytes) to text, data (plain or NS.data) to data, dates (NS.time, seconds
  // since 2001) to date, numbers and booleans as they are. A class is recognised by the
  // first known name in its "$classes" list (or its "$classname" when there is no list), so
  // subclasses such as the mutable variants decode as their base.
  // Fails with dataCorrupted (not a property list, not a keyed archive, a reference out of
  // range, a reference cycle, a null inside a collection, text that is not UTF-8),
  // typeMismatch (an unknown class, a key that is not text, a member of the wrong type),
  // keyNotFound (no top-level object, a missing member) or limitExceeded.
  static Result<std::optional<Value>> unarchiveTopLevelObject(std::span<const std::uint8_t> bytes,
                                                              KeyedUnarchiverOptions options = {});
  static Result<std::optional<Value>> unarchiveTopLevelObject(std::string_view bytes,
                                                              KeyedUnarchiverOptions options = {});
};

}  // namespace vantelkit
