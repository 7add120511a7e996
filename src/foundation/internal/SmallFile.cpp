#include "foundation/internal/SmallFile.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace vantelkit::internal {

std::optional<std::string> readRegularFile(const std::filesystem::path& path, std::uintmax_t limit) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size > limit) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(size));
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  // A file that grew since its size was read is refused as well.
  if (in.bad() || bytes.size() > limit) return std::nullopt;
  return bytes;
}

}  // namespace vantelkit::internal
