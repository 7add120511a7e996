// Builds ".icns" bytes for tests: entries of a four-character type and a payload, with
// minimal PNG payloads of a given size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantelkit::testing {

// The PNG signature and an IHDR chunk for width x height, then a few bytes of body.
std::string pngPayload(std::uint32_t width, std::uint32_t height);

// "icns", the total length, then each entry as type, length and payload.
std::string icnsFile(const std::vector<std::pair<std::string, std::string>>& entries);

// The big-endian form of value.
std::string bigEndian32(std::uint32_t value);

}  // namespace vantelkit::testing
