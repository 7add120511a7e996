#include <charconv>

#include "vantelkit/platform/Volumes.h"

namespace vantelkit::platform {

namespace {

std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (start < line.size()) {
    while (start < line.size() && line[start] == ' ') ++start;
    if (start >= line.size()) break;
    std::size_t end = line.find(' ', start);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(start, end - start));
    start = end;
  }
  return fields;
}

// The kernel writes space, tab, newline and backslash in paths as "\ooo".
std::string unescape(std::string_view field) {
  std::string text;
  text.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto digit = [](char c) { return c >= '0' && c <= '7'; };
    if (field[i] == '\\' && i + 3 < field.size() && digit(field[i + 1]) && digit(field[i + 2]) &&
        digit(field[i + 3])) {
      const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      if (value <= 0xff) {
        text.push_back(static_cast<char>(value));
        i += 3;
        continue;
      }
    }
    text.push_back(field[i]);
  }
  return text;
}

bool parseDevice(std::string_view field, unsigned& major, unsigned& minor) {
  const std::size_t colon = field.find(':');
  if (colon == std::string_view::npos) return false;
  const char* begin = field.data();
  const char* middle = begin + colon;
  const char* end = begin + field.size();
  auto first = std::from_chars(begin, middle, major);
  if (first.ec != std::errc() || first.ptr != middle) return false;
  auto second = std::from_chars(middle + 1, end, minor);
  return second.ec == std::errc() && second.ptr == end;
}

}  // namespace

std::vector<MountInfoEntry> parseMountInfo(std::string_view text) {
  std::vector<MountInfoEntry> entries;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    // id parent major:minor root mount-point options [optional fields...] - type source super-options
    const auto fields = splitFields(line);
    std::size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-") ++separator;
    if (fields.size() < 6 || separator + 2 >= fields.size()) continue;
    MountInfoEntry entry;
    if (!parseDevice(fields[2], entry.major, entry.minor)) continue;
    entry.root = unescape(fields[3]);
    entry.mountPoint = unescape(fields[4]);
    entry.filesystemType = unescape(fields[separator + 1]);
    entry.source = unescape(fields[separator + 2]);
    if (entry.mountPoint.empty() || entry.mountPoint.front() != '/') continue;
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace vantelkit::platform
