#include "vantelkit/formats/IcnsReader.h"

namespace vantelkit {

std::string IcnsError::description() const {
  switch (_code) {
    case Code::notIcns: return "notIcns";
    case Code::truncated: return "truncated";
    case Code::invalidEntryLength: return "invalidEntryLength";
  }
  return "unknown";
}

namespace {

std::uint32_t readBigEndian32(std::string_view bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t k = 0; k < 4; ++k) value = (value << 8) | static_cast<unsigned char>(bytes[offset + k]);
  return value;
}

constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";

// A PNG payload: the signature, then the IHDR chunk (length 13) with width and height, each
// between 1 and 2^31 - 1 as PNG requires.
std::optional<IcnsPngRepresentation> pngRepresentation(std::string_view type, std::string_view payload) {
  if (payload.size() < 24 || payload.substr(0, 8) != kPngSignature) return std::nullopt;
  if (readBigEndian32(payload, 8) != 13 || payload.substr(12, 4) != "IHDR") return std::nullopt;
  const std::uint32_t width = readBigEndian32(payload, 16);
  const std::uint32_t height = readBigEndian32(payload, 20);
  if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return std::nullopt;
  IcnsPngRepresentation representation;
  representation.type = std::string(type);
  representation.pixelsWide = width;
  representation.pixelsHigh = height;
  representation.data.assign(payload.begin(), payload.end());
  return representation;
}

std::nullopt_t fail(ErrorPtr* error, IcnsError::Code code, std::size_t offset) {
  if (error) *error = makeError<IcnsError>(code, offset);
  return std::nullopt;
}

}  // namespace

std::optional<IcnsFile> readIcns(std::string_view bytes, ErrorPtr* error) {
  if (bytes.size() < 8 || bytes.substr(0, 4) != "icns") return fail(error, IcnsError::Code::notIcns, 0);
  const std::uint32_t totalLength = readBigEndian32(bytes, 4);
  if (totalLength < 8) return fail(error, IcnsError::Code::notIcns, 4);
  if (totalLength > bytes.size()) return fail(error, IcnsError::Code::truncated, bytes.size());
  bytes = bytes.substr(0, totalLength);

  IcnsFile file;
  std::size_t offset = 8;
  while (offset < bytes.size()) {
    if (bytes.size() - offset < 8) return fail(error, IcnsError::Code::truncated, offset);
    const std::uint32_t length = readBigEndian32(bytes, offset + 4);
    if (length < 8) return fail(error, IcnsError::Code::invalidEntryLength, offset);
    if (length > bytes.size() - offset) return fail(error, IcnsError::Code::truncated, offset);
    const std::string_view type = bytes.substr(offset, 4);
    const std::string_view payload = bytes.substr(offset + 8, length - 8);
    file.entries.push_back({std::string(type), offset + 8, payload.size()});
    if (auto png = pngRepresentation(type, payload)) file.pngRepresentations.push_back(std::move(*png));
    offset += length;
  }
  return file;
}

}  // namespace vantelkit
