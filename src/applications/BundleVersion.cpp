#include "vantelkit/applications/BundleVersion.h"

#include <cstddef>
#include <limits>
#include <vector>

namespace vantelkit {

namespace {

std::vector<std::string_view> splitAtDots(std::string_view text) {
  std::vector<std::string_view> components;
  while (true) {
    const std::size_t dot = text.find('.');
    components.push_back(text.substr(0, dot));
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return components;
}

// A whole unsigned decimal number with an optional leading "+"; none for anything else or a
// value past 64 bits.
std::optional<std::uint64_t> parseUnsigned(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Numeric text comparison: digit runs by value (leading zeros ignored), other characters by
// their byte values.
std::strong_ordering compareNumerically(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t endA = i;
      std::size_t endB = j;
      while (endA < a.size() && isDigit(a[endA])) ++endA;
      while (endB < b.size() && isDigit(b[endB])) ++endB;
      std::string_view runA = a.substr(i, endA - i);
      std::string_view runB = b.substr(j, endB - j);
      while (runA.size() > 1 && runA.front() == '0') runA.remove_prefix(1);
      while (runB.size() > 1 && runB.front() == '0') runB.remove_prefix(1);
      if (runA.size() != runB.size()) return runA.size() <=> runB.size();
      if (auto order = runA.compare(runB); order != 0) {
        return order < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
      }
      i = endA;
      j = endB;
      continue;
    }
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (ca != cb) return ca <=> cb;
    ++i;
    ++j;
  }
  return (a.size() - i) <=> (b.size() - j);
}

}  // namespace

BundleVersion::BundleVersion(std::optional<std::string_view> versionString,
                             std::optional<std::string> shortVersionString)
    : shortVersionString(std::move(shortVersionString)) {
  std::uint64_t* fields[] = {&major, &minor, &maintenance};
  std::size_t kept = 0;
  for (std::string_view component : splitAtDots(versionString.value_or(std::string_view()))) {
    if (kept == 3) break;
    if (auto number = parseUnsigned(component)) *fields[kept++] = *number;
  }
}

bool operator<(const BundleVersion& a, const BundleVersion& b) {
  if (a.major != b.major) return a.major < b.major;
  if (a.minor != b.minor) return a.minor < b.minor;
  return a.maintenance < b.maintenance;
}

std::strong_ordering compareVersions(std::string_view version, std::string_view other) {
  auto left = splitAtDots(version);
  auto right = splitAtDots(other);
  while (left.size() < right.size()) left.push_back("0");
  while (right.size() < left.size()) right.push_back("0");
  for (std::size_t k = 0; k < left.size(); ++k) {
    if (auto order = compareNumerically(left[k], right[k]); order != 0) return order;
  }
  return std::strong_ordering::equal;
}

bool isVersionEqualTo(std::string_view version, std::string_view other) {
  return compareVersions(version, other) == 0;
}
bool isVersionGreaterThan(std::string_view version, std::string_view other) {
  return compareVersions(version, other) > 0;
}
bool isVersionGreaterThanOrEqualTo(std::string_view version, std::string_view other) {
  return compareVersions(version, other) >= 0;
}
bool isVersionLessThan(std::string_view version, std::string_view other) {
  return compareVersions(version, other) < 0;
}
bool isVersionLessThanOrEqualTo(std::string_view version, std::string_view other) {
  return compareVersions(version, other) <= 0;
}

}  // namespace vantelkit
