// Reads the chunks of an Apple icon file (".icns"): the magic "icns", the total length, then
// entries of a four-character type, a length and a payload, all big-endian. The PNG entries
// become image representations with their pixel sizes, in file order.
// Thread safety: pure functions over the given bytes; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/foundation/Error.h"

namespace vantelkit {

class IcnsError final : public Error {
 public:
  enum class Code {
    // The bytes do not start with "icns" and a length of at least 8.
    notIcns,
    // The file or an entry ends before its stated length.
    truncated,
    // An entry states a length smaller than its own 8-byte header.
    invalidEntryLength,
  };
  // offset: where in the file the fault was found.
  IcnsError(Code code, std::size_t offset) : _code(code), _offset(offset) {}
  Code code() const { return _code; }
  std::size_t offset() const { return _offset; }
  std::string typeName() const override { return "IcnsError"; }
  std::string description() const override;

 private:
  Code _code;
  std::size_t _offset;
};

struct IcnsEntry {
  // The four-character type ("ic07", "TOC ", "info").
  std::string type;
  // The payload's position and length in the file (the 8-byte header excluded).
  std::size_t offset = 0;
  std::size_t length = 0;

  bool operator==(const IcnsEntry&) const = default;
};

struct IcnsPngRepresentation {
  std::string type;
  std::uint32_t pixelsWide = 0;
  std::uint32_t pixelsHigh = 0;
  std::vector<std::uint8_t> data;
};

struct IcnsFile {
  // Every entry in file order.
  std::vector<IcnsEntry> entries;
  // The entries whose payload is a PNG image with a well-formed header, in file order.
  std::vector<IcnsPngRepresentation> pngRepresentations;
};

// Reads bytes as an icon file. Bytes past the stated total length are ignored. On failure
// answers none and, when error is not null, stores an IcnsError there.
std::optional<IcnsFile> readIcns(std::string_view bytes, ErrorPtr* error = nullptr);

}  // namespace vantelkit
