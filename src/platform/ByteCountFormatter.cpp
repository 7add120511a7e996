#include "vantelkit/platform/ByteCountFormatter.h"

#include <fmt/core.h>

#include <array>

namespace vantelkit::platform {
namespace {

struct Unit {
  const char* name;
  int decimals;
};

constexpr std::array<Unit, 6> kUnits{{{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}}};

unsigned __int128 powerOf(unsigned base, int exponent) {
  unsigned __int128 result = 1;
  for (int i = 0; i < exponent; ++i) result *= base;
  return result;
}

// magnitude / divisor * 10^decimals, rounded half up.
unsigned __int128 roundedScaled(std::uint64_t magnitude, unsigned __int128 divisor, int decimals) {
  return (static_cast<unsigned __int128>(magnitude) * powerOf(10, decimals) * 2 + divisor) / (divisor * 2);
}

// A scaled value as a decimal text with trailing zeros (and a bare point) removed.
std::string formatScaled(unsigned __int128 scaled, int decimals) {
  auto scale = powerOf(10, decimals);
  auto whole = static_cast<std::uint64_t>(scaled / scale);
  auto fraction = static_cast<std::uint64_t>(scaled % scale);
  if (decimals == 0 || fraction == 0) return fmt::format("{}", whole);
  auto text = fmt::format("{}.{:0{}}", whole, fraction, decimals);
  while (text.back() == '0') text.pop_back();
  return text;
}

}  // namespace

std::string ByteCountFormatter::string(std::int64_t byteCount, CountStyle style) {
  if (byteCount == 0) return "Zero KB";
  const unsigned base = style == CountStyle::memory ? 1024 : 1000;
  std::string sign = byteCount < 0 ? "-" : "";
  // Two's complement magnitude, exact for the most negative count too.
  std::uint64_t magnitude =
      byteCount < 0 ? ~static_cast<std::uint64_t>(byteCount) + 1 : static_cast<std::uint64_t>(byteCount);
  if (magnitude < base) return sign + fmt::format("{} {}", magnitude, magnitude == 1 ? "byte" : "bytes");

  for (std::size_t index = 0; index < kUnits.size(); ++index) {
    auto divisor = powerOf(base, static_cast<int>(index) + 1);
    const auto& unit = kUnits[index];
    auto scaled = roundedScaled(magnitude, divisor, unit.decimals);
    // Stay in this unit unless the rounded value reaches a full next unit.
    if (scaled < base * powerOf(10, unit.decimals) || index + 1 == kUnits.size()) {
      return sign + formatScaled(scaled, unit.decimals) + " " + unit.name;
    }
  }
  return {};  // not reached: the last unit always answers
}

}  // namespace vantelkit::platform
