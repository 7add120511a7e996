#include "vantelkit/formats/PngText.h"

#include <array>

namespace vantelkit {

namespace {

constexpr std::string_view kSignature("\x89PNG\r\n\x1a\n", 8);

std::uint32_t readBigEndian32(std::string_view bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}

constexpr std::array<std::uint32_t, 256> makeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr auto kTable = makeTable();

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string latin1ToUtf8(std::string_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

std::nullopt_t fail(ErrorPtr* error, PngError::Code code, std::size_t offset) {
  if (error) *error = makeError<PngError>(code, offset);
  return std::nullopt;
}

// Keyword and text of a tEXt or uncompressed iTXt chunk; none for anything else.
std::optional<std::pair<std::string, std::string>> textOf(std::string_view type, std::string_view data) {
  const std::size_t keywordEnd = data.find('\0');
  if (keywordEnd == std::string_view::npos || keywordEnd == 0 || keywordEnd > 79) return std::nullopt;
  std::string keyword = latin1ToUtf8(data.substr(0, keywordEnd));
  std::string_view rest = data.substr(keywordEnd + 1);
  if (type == "tEXt") return std::pair{std::move(keyword), latin1ToUtf8(rest)};
  // iTXt: compression flag and method, language tag, translated keyword, text.
  if (rest.size() < 2 || rest[0] != 0) return std::nullopt;
  rest.remove_prefix(2);
  for (int field = 0; field < 2; ++field) {
    const std::size_t end = rest.find('\0');
    if (end == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(end + 1);
  }
  return std::pair{std::move(keyword), std::string(rest)};
}

}  // namespace

std::string PngError::description() const {
  switch (_code) {
    case Code::notPng:
      return "notPng";
    case Code::truncated:
      return "truncated";
    case Code::invalidChunk:
      return "invalidChunk";
    case Code::checksumMismatch:
      return "checksumMismatch";
  }
  return "unknown";
}

std::uint32_t pngChecksum(std::string_view bytes, std::uint32_t crc) {
  crc ^= 0xFFFFFFFFu;
  for (char c : bytes) crc = kTable[(crc ^ static_cast<unsigned char>(c)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::optional<std::map<std::string, std::string>> readPngText(std::string_view bytes, ErrorPtr* error) {
  if (bytes.size() < kSignature.size() || bytes.substr(0, kSignature.size()) != kSignature)
    return fail(error, PngError::Code::notPng, 0);
  std::map<std::string, std::string> texts;
  std::size_t offset = kSignature.size();
  bool first = true;
  for (;;) {
    if (bytes.size() - offset < 12) return fail(error, PngError::Code::truncated, offset);
    const std::uint32_t length = readBigEndian32(bytes, offset);
    const std::string_view type = bytes.substr(offset + 4, 4);
    if (length > 0x7FFFFFFFu || !isLetter(type[0]) || !isLetter(type[1]) || !isLetter(type[2]) || !isLetter(type[3]))
      return fail(error, PngError::Code::invalidChunk, offset);
    if (first && type != "IHDR") return fail(error, PngError::Code::notPng, offset);
    first = false;
    if (bytes.size() - offset - 12 < length) return fail(error, PngError::Code::truncated, offset);
    const std::string_view data = bytes.substr(offset + 8, length);
    if (pngChecksum(bytes.substr(offset + 4, 4 + std::size_t{length})) != readBigEndian32(bytes, offset + 8 + length))
      return fail(error, PngError::Code::checksumMismatch, offset);
    if (type == "IEND") return texts;
    if (type == "tEXt" || type == "iTXt") {
      if (auto text = textOf(type, data)) texts.try_emplace(std::move(text->first), std::move(text->second));
    }
    offset += 12 + std::size_t{length};
  }
}

}  // namespace vantelkit
