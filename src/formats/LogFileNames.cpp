#include "vantelkit/formats/LogFileNames.h"

#include <array>

namespace vantelkit {

namespace {

bool allDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

int number(std::string_view text) {
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

bool plausibleDate(int year, int month, int day) {
  return year >= 1970 && year <= 2999 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// True when name ends in a separator and a date.
bool endsInDate(std::string_view name) {
  const auto separated = [&](std::size_t length) {
    return name.size() > length + 1 && (name[name.size() - length - 1] == '-' ||
                                        name[name.size() - length - 1] == '.' || name[name.size() - length - 1] == '_');
  };
  const auto tail = [&](std::size_t length) { return name.substr(name.size() - length); };
  for (std::size_t length : {std::size_t{8}, std::size_t{10}}) {
    if (!separated(length) || !allDigits(tail(length))) continue;
    const std::string_view date = tail(length);
    if (plausibleDate(number(date.substr(0, 4)), number(date.substr(4, 2)), number(date.substr(6, 2))) &&
        (length == 8 || number(date.substr(8, 2)) < 24))
      return true;
  }
  if (separated(10)) {
    const std::string_view date = tail(10);
    if (date[4] == '-' && date[7] == '-' && allDigits(date.substr(0, 4)) && allDigits(date.substr(5, 2)) &&
        allDigits(date.substr(8, 2)) &&
        plausibleDate(number(date.substr(0, 4)), number(date.substr(5, 2)), number(date.substr(8, 2))))
      return true;
  }
  return false;
}

}  // namespace

LogFileKind classifyLogFileName(std::string_view name) {
  static constexpr std::array<std::string_view, 6> compressed{".gz", ".xz", ".bz2", ".zst", ".lz4", ".Z"};
  for (auto ending : compressed) {
    if (name.size() > ending.size() && name.ends_with(ending)) return LogFileKind::rotated;
  }
  if (name.size() > 4 && name.ends_with(".old")) return LogFileKind::rotated;
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0 && allDigits(name.substr(dot + 1))) return LogFileKind::rotated;
  return endsInDate(name) ? LogFileKind::rotated : LogFileKind::live;
}

JournalFileKind classifyJournalFileName(std::string_view name) {
  if (name.size() > 9 && name.ends_with(".journal~")) return JournalFileKind::archived;
  if (name.size() <= 8 || !name.ends_with(".journal")) return JournalFileKind::notJournal;
  return name.find('@') != std::string_view::npos ? JournalFileKind::archived : JournalFileKind::active;
}

}  // namespace vantelkit
