#include "vantelkit/formats/TrashDirectorySizes.h"

#include <charconv>
#include <optional>

#include "vantelkit/formats/TrashInfo.h"

namespace vantelkit {

namespace {

template <class Number>
std::optional<Number> decimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (char c : text)
    if (c < '0' || c > '9') return std::nullopt;
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::vector<TrashDirectorySize> parseTrashDirectorySizes(std::string_view text) {
  std::vector<TrashDirectorySize> sizes;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t first = line.find(' ');
    if (first == std::string_view::npos) continue;
    const std::size_t second = line.find(' ', first + 1);
    if (second == std::string_view::npos) continue;
    const auto size = decimal<std::uint64_t>(line.substr(0, first));
    const auto time = decimal<std::int64_t>(line.substr(first + 1, second - first - 1));
    std::string name = percentDecoded(line.substr(second + 1));
    if (!size || !time || name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") continue;
    sizes.push_back({*size, *time, std::move(name)});
  }
  return sizes;
}

}  // namespace vantelkit
