#include "foundation/internal/CodingText.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include <fmt/core.h>

namespace vantelkit::internal {

namespace {

constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
char toLower(char c) { return isUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; }
char toUpper(char c) { return isLower(c) ? static_cast<char>(c - 'a' + 'A') : c; }

// Days since 1970-01-01 of a proleptic Gregorian date, and back (after H. Hinnant).
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

void civilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

unsigned daysInMonth(std::int64_t year, unsigned month) {
  static constexpr std::array<unsigned, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Reads count digits at position at; none unless they are all digits.
std::optional<unsigned> digits(std::string_view text, std::size_t at, std::size_t count) {
  if (text.size() < at + count) return std::nullopt;
  unsigned value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (!isDigit(text[i])) return std::nullopt;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return value;
}

}  // namespace

std::string base64Encode(const Data& data) {
  std::string text;
  text.reserve((data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const std::uint32_t group = std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8 | data[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) text += kBase64Alphabet[group >> shift & 0x3F];
  }
  const std::size_t rest = data.size() - i;
  if (rest > 0) {
    std::uint32_t group = std::uint32_t{data[i]} << 16;
    if (rest == 2) group |= std::uint32_t{data[i + 1]} << 8;
    text += kBase64Alphabet[group >> 18 & 0x3F];
    text += kBase64Alphabet[group >> 12 & 0x3F];
    text += rest == 2 ? kBase64Alphabet[group >> 6 & 0x3F] : '=';
    text += '=';
  }
  return text;
}

std::optional<Data> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') ++padding;
  if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
  Data data;
  data.reserve(text.size() / 4 * 3);
  std::uint32_t group = 0;
  int bits = 0;
  for (std::size_t i = 0; i < text.size() - padding; ++i) {
    const std::size_t value = kBase64Alphabet.find(text[i]);
    if (value == std::string_view::npos) return std::nullopt;
    group = group << 6 | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      data.push_back(static_cast<std::uint8_t>(group >> bits & 0xFF));
    }
  }
  return data;
}

std::optional<std::string> iso8601Format(Date date) {
  const double seconds = std::floor(date.secondsSince1970);
  // Years 0 to 9999, with a margin that keeps the arithmetic in range.
  if (!std::isfinite(seconds) || std::fabs(seconds) > 4.0e11) return std::nullopt;
  const auto whole = static_cast<std::int64_t>(seconds);
  std::int64_t days = whole / 86400;
  std::int64_t secondOfDay = whole % 86400;
  if (secondOfDay < 0) {
    secondOfDay += 86400;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  civilFromDays(days, year, month, day);
  if (year < 0 || year > 9999) return std::nullopt;
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", year, month, day, secondOfDay / 3600,
                     secondOfDay / 60 % 60, secondOfDay % 60);
}

std::optional<Date> iso8601Parse(std::string_view text) {
  auto year = digits(text, 0, 4);
  auto month = digits(text, 5, 2);
  auto day = digits(text, 8, 2);
  auto hour = digits(text, 11, 2);
  auto minute = digits(text, 14, 2);
  auto second = digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') return std::nullopt;
  if (*month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*year, *month) || *hour > 23 || *minute > 59 ||
      *second > 59) {
    return std::nullopt;
  }
  std::size_t at = 19;
  double fraction = 0;
  if (at < text.size() && text[at] == '.') {
    ++at;
    double scale = 0.1;
    const std::size_t start = at;
    while (at < text.size() && isDigit(text[at])) {
      fraction += scale * (text[at] - '0');
      scale /= 10;
      ++at;
    }
    if (at == start) return std::nullopt;
  }
  std::int64_t offset = 0;
  if (at < text.size() && text[at] == 'Z') {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    const int sign = text[at] == '-' ? -1 : 1;
    ++at;
    auto offsetHours = digits(text, at, 2);
    if (!offsetHours) return std::nullopt;
    at += 2;
    if (at < text.size() && text[at] == ':') ++at;
    auto offsetMinutes = digits(text, at, 2);
    if (!offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59) return std::nullopt;
    at += 2;
    offset = sign * static_cast<std::int64_t>(*offsetHours * 3600 + *offsetMinutes * 60);
  } else {
    return std::nullopt;
  }
  if (at != text.size()) return std::nullopt;
  const std::int64_t seconds = daysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second - offset;
  return Date{static_cast<double>(seconds) + fraction};
}

std::string snakeCaseFromCamelCase(std::string_view key) {
  if (key.empty()) return {};
  // Words end where a lowercase run meets an uppercase letter, and a run of several capitals
  // is a word of its own up to the capital that starts the next word: "myURLValue" is
  // "my", "URL", "Value". The first character is taken to start a word whatever its case.
  std::vector<std::string_view> words;
  const std::size_t end = key.size();
  std::size_t wordStart = 0;
  std::size_t searchStart = 1;
  while (true) {
    std::size_t upper = searchStart;
    while (upper < end && !isUpper(key[upper])) ++upper;
    if (upper >= end) break;
    words.push_back(key.substr(wordStart, upper - wordStart));
    std::size_t lower = upper;
    while (lower < end && !isLower(key[lower])) ++lower;
    if (lower >= end) {
      wordStart = upper;
      break;
    }
    if (lower == upper + 1) {
      wordStart = upper;
    } else {
      words.push_back(key.substr(upper, lower - 1 - upper));
      wordStart = lower - 1;
    }
    searchStart = lower + 1;
  }
  words.push_back(key.substr(wordStart));
  std::string result;
  result.reserve(key.size() + words.size());
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) result += '_';
    for (char c : words[i]) result += toLower(c);
  }
  return result;
}

std::string camelCaseFromSnakeCase(std::string_view key) {
  const std::size_t first = key.find_first_not_of('_');
  if (first == std::string_view::npos) return std::string(key);
  const std::size_t last = key.find_last_not_of('_');
  const std::string_view core = key.substr(first, last - first + 1);
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < core.size()) {
    std::size_t next = core.find('_', at);
    if (next == std::string_view::npos) next = core.size();
    if (next > at) words.push_back(core.substr(at, next - at));
    at = next + 1;
  }
  std::string result(key.substr(0, first));
  if (words.size() == 1) {
    result += core;
  } else {
    for (std::size_t i = 0; i < words.size(); ++i) {
      for (std::size_t k = 0; k < words[i].size(); ++k) {
        const char c = words[i][k];
        result += (i > 0 && k == 0) ? toUpper(c) : toLower(c);
      }
    }
  }
  result += key.substr(last + 1);
  return result;
}

std::string memberPath(const std::string& path, std::string_view key) {
  return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string indexPath(const std::string& path, std::size_t index) { return fmt::format("{}[{}]", path, index); }

}  // namespace vantelkit::internal
