#include "vantelkit/foundation/LocalizedStrings.h"

#include <fmt/format.h>

#include <cstddef>
#include <cstdint>

#include "vantelkit/platform/Resources.h"

namespace vantelkit {

namespace {

struct Conversion {
  std::size_t argumentIndex = 0;
  bool leftAlign = false, plusSign = false, spaceSign = false, alternate = false, zeroPad = false;
  std::size_t width = 0;
  std::optional<std::size_t> precision;
  char type = '\0';
};

// Digits from position on, at most a few so that a huge number cannot overflow.
std::optional<std::size_t> readNumber(std::string_view text, std::size_t& position) {
  std::size_t value = 0;
  std::size_t digits = 0;
  while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
    if (++digits > 6) return std::nullopt;
    value = value * 10 + static_cast<std::size_t>(text[position] - '0');
    ++position;
  }
  if (digits == 0) return std::nullopt;
  return value;
}

// Parses the conversion that starts after a "%" at position; on success position is past it.
std::optional<Conversion> parseConversion(std::string_view format, std::size_t& position,
                                          std::size_t& nextSequential) {
  Conversion conversion;
  std::size_t p = position;
  std::optional<std::size_t> explicitIndex;
  {
    std::size_t q = p;
    auto number = readNumber(format, q);
    if (number && q < format.size() && format[q] == '$') {
      if (*number == 0) return std::nullopt;
      explicitIndex = *number - 1;
      p = q + 1;
    }
  }
  for (; p < format.size(); ++p) {
    const char c = format[p];
    if (c == '-') conversion.leftAlign = true;
    else if (c == '+') conversion.plusSign = true;
    else if (c == ' ') conversion.spaceSign = true;
    else if (c == '#') conversion.alternate = true;
    else if (c == '0') conversion.zeroPad = true;
    else if (c == '\'') continue;
    else break;
  }
  if (p < format.size() && format[p] >= '1' && format[p] <= '9') {
    auto width = readNumber(format, p);
    if (!width) return std::nullopt;
    conversion.width = *width;
  }
  if (p < format.size() && format[p] == '.') {
    ++p;
    std::size_t q = p;
    auto precision = readNumber(format, q);
    if (!precision && q < format.size() && format[q] == '*') return std::nullopt;
    if (!precision && q != p) return std::nullopt;  // too many digits
    conversion.precision = precision.value_or(0);
    p = q;
  }
  while (p < format.size() && (format[p] == 'h' || format[p] == 'l' || format[p] == 'q' || format[p] == 'z' ||
                               format[p] == 't' || format[p] == 'j' || format[p] == 'L')) {
    ++p;
  }
  if (p >= format.size()) return std::nullopt;
  conversion.type = format[p];
  switch (conversion.type) {
    case '@': case 's': case 'd': case 'i': case 'u': case 'o': case 'x': case 'X': break;
    default: return std::nullopt;
  }
  conversion.argumentIndex = explicitIndex ? *explicitIndex : nextSequential;
  if (!explicitIndex) ++nextSequential;
  position = p + 1;
  return conversion;
}

// The first count code points of text (whole UTF-8 sequences only).
std::string_view prefixOfCodePoints(std::string_view text, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t seen = 0; i < text.size() && seen < count; ++seen) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return text.substr(0, i);
}

std::size_t codePointCount(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

void appendPadded(std::string& out, std::string_view body, const Conversion& conversion) {
  const std::size_t length = codePointCount(body);
  const std::size_t padding = conversion.width > length ? conversion.width - length : 0;
  if (!conversion.leftAlign) out.append(padding, ' ');
  out.append(body);
  if (conversion.leftAlign) out.append(padding, ' ');
}

std::optional<std::string> formatInteger(std::int64_t value, const Conversion& conversion) {
  std::string digits;
  std::string_view sign;
  std::string_view prefix;
  switch (conversion.type) {
    case 'd':
    case 'i':
      digits = value < 0 ? fmt::format("{}", -static_cast<std::uint64_t>(value)) : fmt::format("{}", value);
      if (value < 0) sign = "-";
      else if (conversion.plusSign) sign = "+";
      else if (conversion.spaceSign) sign = " ";
      break;
    case 'u': digits = fmt::format("{}", static_cast<std::uint64_t>(value)); break;
    case 'o':
      digits = fmt::format("{:o}", static_cast<std::uint64_t>(value));
      if (conversion.alternate && digits != "0") prefix = "0";
      break;
    case 'x':
    case 'X':
      digits = conversion.type == 'x' ? fmt::format("{:x}", static_cast<std::uint64_t>(value))
                                       : fmt::format("{:X}", static_cast<std::uint64_t>(value));
      if (conversion.alternate && value != 0) prefix = conversion.type == 'x' ? "0x" : "0X";
      break;
    default: return std::nullopt;
  }
  if (conversion.precision) {
    if (*conversion.precision == 0 && value == 0) digits.clear();
    if (digits.size() < *conversion.precision) digits.insert(0, *conversion.precision - digits.size(), '0');
  }
  std::string body;
  body.append(sign).append(prefix);
  const std::size_t length = body.size() + digits.size();
  if (conversion.zeroPad && !conversion.leftAlign && !conversion.precision && conversion.width > length) {
    body.append(conversion.width - length, '0');
  }
  body += digits;
  return body;
}

}  // namespace

std::string formatText(std::string_view format, std::span<const FormatArgument> arguments) {
  std::string out;
  out.reserve(format.size());
  std::size_t nextSequential = 0;
  std::size_t position = 0;
  while (position < format.size()) {
    const std::size_t percent = format.find('%', position);
    if (percent == std::string_view::npos) {
      out.append(format.substr(position));
      break;
    }
    out.append(format.substr(position, percent - position));
    position = percent + 1;
    if (position < format.size() && format[position] == '%') {
      out.push_back('%');
      ++position;
      continue;
    }
    std::size_t end = position;
    auto conversion = parseConversion(format, end, nextSequential);
    if (!conversion || conversion->argumentIndex >= arguments.size()) {
      out.push_back('%');  // kept as written; the rest of it is copied as plain text
      continue;
    }
    const FormatArgument& argument = arguments[conversion->argumentIndex];
    std::optional<std::string> body;
    if (conversion->type == '@' || conversion->type == 's') {
      std::string text = std::holds_alternative<std::string>(argument)
                             ? std::get<std::string>(argument)
                             : fmt::format("{}", std::get<std::int64_t>(argument));
      if (conversion->precision) text = std::string(prefixOfCodePoints(text, *conversion->precision));
      body = std::move(text);
    } else if (const auto* integer = std::get_if<std::int64_t>(&argument)) {
      body = formatInteger(*integer, *conversion);
    }
    if (!body) {
      out.push_back('%');
      continue;
    }
    appendPadded(out, *body, *conversion);
    position = end;
  }
  return out;
}

namespace {

std::optional<StringTable> embeddedTable(const std::string& path) {
  auto bytes = platform::embeddedResource(path);
  if (!bytes) return std::nullopt;
  auto table = StringTable::parse(*bytes);
  return table ? std::move(*table) : StringTable();
}

std::vector<StringTable> embeddedTables(const std::optional<std::string>& locale) {
  std::vector<StringTable> tables;
  if (locale && !locale->empty()) {
    std::vector<std::string> candidates{*locale};
    const std::size_t separator = locale->find_first_of("_-");
    if (separator != std::string::npos && separator > 0) candidates.push_back(locale->substr(0, separator));
    for (const auto& candidate : candidates) {
      if (candidate.find('/') != std::string::npos) continue;
      if (auto table = embeddedTable(candidate + ".lproj/Localizable.strings")) {
        tables.push_back(std::move(*table));
        break;
      }
    }
  }
  if (auto base = embeddedTable("Localizable.strings")) tables.push_back(std::move(*base));
  return tables;
}

std::mutex sharedMutex;
std::optional<std::string> sharedLocale;  // guarded by sharedMutex
bool sharedBuilt = false;                 // guarded by sharedMutex

}  // namespace

LocalizedStrings::LocalizedStrings(std::optional<std::string> locale) : _tables(embeddedTables(locale)) {}

LocalizedStrings::LocalizedStrings(std::vector<StringTable> tables) : _tables(std::move(tables)) {}

std::optional<std::string> LocalizedStrings::rawText(std::string_view key) const {
  for (const auto& table : _tables) {
    if (const std::string* found = table.find(key)) return *found;
  }
  return std::nullopt;
}

std::string LocalizedStrings::text(std::string_view key) const {
  {
    std::lock_guard lock(_cacheMutex);
    if (auto it = _cache.find(key); it != _cache.end()) return it->second;
  }
  std::string resolved = formatText(rawText(key).value_or(std::string(key)));
  std::lock_guard lock(_cacheMutex);
  // A racing thread may have stored the same text first; both computed the same value.
  return _cache.try_emplace(std::string(key), std::move(resolved)).first->second;
}

std::string LocalizedStrings::format(std::string_view key, std::initializer_list<FormatArgument> arguments) const {
  const std::string format = rawText(key).value_or(std::string(key));
  return formatText(format, std::span<const FormatArgument>(arguments.begin(), arguments.size()));
}

const LocalizedStrings& LocalizedStrings::shared() {
  static const LocalizedStrings* instance = [] {
    std::lock_guard lock(sharedMutex);
    sharedBuilt = true;
    return new LocalizedStrings(sharedLocale);  // lives for the whole process
  }();
  return *instance;
}

bool LocalizedStrings::setSharedLocale(std::optional<std::string> locale) {
  std::lock_guard lock(sharedMutex);
  if (sharedBuilt) return false;
  sharedLocale = std::move(locale);
  return true;
}

std::string localizedString(std::string_view key) { return LocalizedStrings::shared().text(key); }

std::string localizedFormat(std::string_view key, std::initializer_list<FormatArgument> arguments) {
  return LocalizedStrings::shared().format(key, arguments);
}

}  // namespace vantelkit
