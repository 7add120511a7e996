#include "vantelkit/platform/ByteCountFormatter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace vantelkit::platform {
namespace {

constexpr std::int64_t KiB = 1024;
constexpr std::int64_t MiB = 1024 * KiB;
constexpr std::int64_t GiB = 1024 * MiB;
constexpr std::int64_t TiB = 1024 * GiB;

std::string memory(std::int64_t count) {
  return ByteCountFormatter::string(count, ByteCountFormatter::CountStyle::memory);
}

TEST(ByteCountFormatterTest, SmallCountsAreZeroOrBytes) {
  EXPECT_EQ(memory(0), "Zero KB");
  EXPECT_EQ(memory(1), "1 byte");
  EXPECT_EQ(memory(2), "2 bytes");
  EXPECT_EQ(memory(1023), "1023 bytes");
}

TEST(ByteCountFormatterTest, EachUnitHasItsOwnPrecisionWithTrailingZerosDropped) {
  EXPECT_EQ(memory(KiB), "1 KB");
  EXPECT_EQ(memory(512 * KiB), "512 KB");
  EXPECT_EQ(memory(1536), "2 KB");  // kilobytes carry no decimals; halves round up
  EXPECT_EQ(memory(10 * MiB), "10 MB");
  EXPECT_EQ(memory(MiB + MiB / 4), "1.3 MB");
  EXPECT_EQ(memory(GiB + GiB / 2), "1.5 GB");
  EXPECT_EQ(memory(16 * GiB), "16 GB");
  EXPECT_EQ(memory(GiB + GiB / 10), "1.1 GB");
  EXPECT_EQ(memory(3 * GiB + GiB * 14 / 100 + 1), "3.14 GB");
  EXPECT_EQ(memory(2 * TiB + TiB / 4), "2.25 TB");
}

TEST(ByteCountFormatterTest, ValueThatRoundsToAFullUnitMovesUp) {
  EXPECT_EQ(memory(MiB - 1), "1 MB");
  EXPECT_EQ(memory(1023 * KiB + 511), "1023 KB");
  EXPECT_EQ(memory(GiB - 1), "1 GB");
}

TEST(ByteCountFormatterTest, ExtremesAndNegativeCounts) {
  EXPECT_EQ(memory(std::numeric_limits<std::int64_t>::max()), "8 EB");
  EXPECT_EQ(memory(std::numeric_limits<std::int64_t>::min()), "-8 EB");
  EXPECT_EQ(memory(-1536), "-2 KB");
  EXPECT_EQ(memory(-1), "-1 byte");
}

TEST(ByteCountFormatterTest, FileStyleUsesDecimalUnits) {
  auto file = [](std::int64_t count) { return ByteCountFormatter::string(count, ByteCountFormatter::CountStyle::file); };
  EXPECT_EQ(file(999), "999 bytes");
  EXPECT_EQ(file(1000), "1 KB");
  EXPECT_EQ(file(1'500'000), "1.5 MB");
  EXPECT_EQ(file(100'000'000'000), "100 GB");
}

}  // namespace
}  // namespace vantelkit::platform
