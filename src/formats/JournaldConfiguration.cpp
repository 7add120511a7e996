#include "vantelkit/formats/JournaldConfiguration.h"

#include <algorithm>
#include <map>

namespace vantelkit {

namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<std::uint64_t> parseJournalSize(std::string_view text) {
  text = trimmed(text);
  std::size_t at = 0;
  unsigned __int128 whole = 0;
  bool anyDigit = false;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    whole = whole * 10 + static_cast<unsigned>(text[at] - '0');
    if (whole > UINT64_MAX) return std::nullopt;
    anyDigit = true;
    ++at;
  }
  // A fraction: at most 18 digits are kept, as numerator over a power of ten.
  std::uint64_t numerator = 0;
  std::uint64_t denominator = 1;
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      if (denominator < 1'000'000'000'000'000'000ull) {
        numerator = numerator * 10 + static_cast<unsigned>(text[at] - '0');
        denominator *= 10;
      }
      anyDigit = true;
      ++at;
    }
  }
  if (!anyDigit) return std::nullopt;
  const std::string_view unit = trimmed(text.substr(at));
  static constexpr std::string_view units = "BKMGTPE";
  std::uint64_t factor = 1;
  if (!unit.empty()) {
    const std::size_t index = units.find(unit.front());
    if (unit.size() != 1 || index == std::string_view::npos) return std::nullopt;
    factor = std::uint64_t{1} << (10 * index);
  }
  const unsigned __int128 total = whole * factor + static_cast<unsigned __int128>(numerator) * factor / denominator;
  if (total > UINT64_MAX) return std::nullopt;
  return static_cast<std::uint64_t>(total);
}

std::optional<std::uint64_t> applyJournaldConfiguration(std::string_view text, std::optional<std::uint64_t> current) {
  bool inJournal = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = trimmed(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      inJournal = line == "[Journal]";
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inJournal || equals == std::string_view::npos || trimmed(line.substr(0, equals)) != "SystemMaxUse") continue;
    const std::string_view value = trimmed(line.substr(equals + 1));
    if (value.empty()) {
      current.reset();
    } else if (auto size = parseJournalSize(value)) {
      current = size;
    }
  }
  return current;
}

std::vector<std::string> journaldDropInOrder(
    const std::vector<std::pair<std::string, std::vector<std::string>>>& folders) {
  std::map<std::string, std::string> byName;
  for (const auto& [folder, names] : folders) {
    for (const auto& name : names) {
      if (name.size() <= 5 || !name.ends_with(".conf") || name.find('/') != std::string::npos) continue;
      byName.try_emplace(name, folder + "/" + name);
    }
  }
  std::vector<std::string> paths;
  for (auto& [name, path] : byName) paths.push_back(std::move(path));
  return paths;
}

std::uint64_t journalCap(std::optional<std::uint64_t> configured, std::uint64_t fileSystemSize) {
  if (configured) return *configured;
  return std::min(fileSystemSize / 10, kJournalDefaultCapLimit);
}

}  // namespace vantelkit
