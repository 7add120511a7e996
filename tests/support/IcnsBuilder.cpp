#include "IcnsBuilder.h"

namespace vantelkit::testing {

std::string bigEndian32(std::uint32_t value) {
  std::string out(4, '\0');
  for (int k = 3; k >= 0; --k, value >>= 8) out[static_cast<std::size_t>(k)] = static_cast<char>(value & 0xFF);
  return out;
}

std::string pngPayload(std::uint32_t width, std::uint32_t height) {
  std::string out = "\x89PNG\r\n\x1a\n";
  out += bigEndian32(13) + "IHDR" + bigEndian32(width) + bigEndian32(height);
  out += std::string("\x08\x06\x00\x00\x00", 5) + "crc!" + "IEND";
  return out;
}

std::string icnsFile(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string body;
  for (const auto& [type, payload] : entries) {
    body += type.substr(0, 4) + bigEndian32(static_cast<std::uint32_t>(payload.size() + 8)) + payload;
  }
  return "icns" + bigEndian32(static_cast<std::uint32_t>(body.size() + 8)) + body;
}

}  // namespace vantelkit::testing
