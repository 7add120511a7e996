// The text chunks of a PNG file, where the thumbnails of a desktop keep what they show
// ("Thumb::URI", "Thumb::MTime"): the signature, then chunks of a big-endian length, a
// four-letter type, the data and a CRC-32 of type and data, the first IHDR, the last IEND.
// tEXt chunks (Latin-1, given back as UTF-8) and uncompressed iTXt chunks (UTF-8) are read;
// compressed ones are left out. Every length is checked before it is used, so a corrupt or
// truncated file is an error value, never a read past its end.
// Thread safety: pure functions over the given bytes; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "vantelkit/foundation/Error.h"

namespace vantelkit {

class PngError final : public Error {
 public:
  enum class Code {
    // The bytes do not start with the PNG signature and an IHDR chunk.
    notPng,
    // The file ends inside a chunk or before its IEND chunk.
    truncated,
    // A chunk states a length above 2^31 - 1 or has a type that is not four letters.
    invalidChunk,
    // A chunk's CRC does not match its type and data.
    checksumMismatch,
  };
  // offset: where in the file the fault was found.
  PngError(Code code, std::size_t offset) : _code(code), _offset(offset) {}
  Code code() const { return _code; }
  std::size_t offset() const { return _offset; }
  std::string typeName() const override { return "PngError"; }
  std::string description() const override;

 private:
  Code _code;
  std::size_t _offset;
};

// The keywords and texts of the file's text chunks; the first chunk of a keyword wins. None,
// with error set to a PngError when given, for a file that is not a whole, sound PNG.
std::optional<std::map<std::string, std::string>> readPngText(std::string_view bytes, ErrorPtr* error = nullptr);

// The CRC-32 of PNG chunks (and of zlib): polynomial 0xEDB88320, starting from crc.
std::uint32_t pngChecksum(std::string_view bytes, std::uint32_t crc = 0);

}  // namespace vantelkit
