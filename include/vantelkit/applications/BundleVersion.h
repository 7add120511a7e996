// An application's version as read from its bundle (major, minor, maintenance and the
// marketing text), and the comparison of dotted version texts.
// Thread safety: plain values and pure functions; safe from any thread.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantelkit {

struct BundleVersion {
  std::uint64_t major = 0;
  std::uint64_t minor = 0;
  std::uint64_t maintenance = 0;
  std::optional<std::string> shortVersionString;

  BundleVersion() = default;
  // Never fails: the version text is split at "."; the components that are whole unsigned
  // decimal numbers (an optional leading "+", no more than fits 64 bits) give major, minor
  // and maintenance in order, the others are dropped; missing numbers are 0. The short
  // version text is kept as given.
  BundleVersion(std::optional<std::string_view> versionString, std::optional<std::string> shortVersionString);

  // Compares all four fields.
  bool operator==(const BundleVersion&) const = default;
  // Orders by major, minor, maintenance; the short version text takes no part.
  friend bool operator<(const BundleVersion& a, const BundleVersion& b);
  friend bool operator>(const BundleVersion& a, const BundleVersion& b) { return b < a; }
  friend bool operator<=(const BundleVersion& a, const BundleVersion& b) { return !(b < a); }
  friend bool operator>=(const BundleVersion& a, const BundleVersion& b) { return !(a < b); }
};

// Compares two dotted version texts component by component, the shorter padded with "0"
// components; components compare as texts whose digit runs compare by numeric value (so "10"
// is above "9", and "1.0" equals "1"). Digit runs of any length are compared exactly.
std::strong_ordering compareVersions(std::string_view version, std::string_view other);

bool isVersionEqualTo(std::string_view version, std::string_view other);
bool isVersionGreaterThan(std::string_view version, std::string_view other);
bool isVersionGreaterThanOrEqualTo(std::string_view version, std::string_view other);
bool isVersionLessThan(std::string_view version, std::string_view other);
bool isVersionLessThanOrEqualTo(std::string_view version, std::string_view other);

}  // namespace vantelkit
