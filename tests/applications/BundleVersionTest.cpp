#include "vantelkit/applications/BundleVersion.h"

#include <gtest/gtest.h>

namespace vantelkit {
namespace {

void expectTriple(const BundleVersion& version, std::uint64_t major, std::uint64_t minor, std::uint64_t maintenance) {
  EXPECT_EQ(version.major, major);
  EXPECT_EQ(version.minor, minor);
  EXPECT_EQ(version.maintenance, maintenance);
}

TEST(BundleVersionTest, ParsesNumericComponentsAndDropsTheRest) {
  expectTriple(BundleVersion("10.15.7", std::nullopt), 10, 15, 7);
  expectTriple(BundleVersion("2", std::nullopt), 2, 0, 0);
  expectTriple(BundleVersion("1.beta.3", std::nullopt), 1, 3, 0);
  expectTriple(BundleVersion("1.2.3.4", std::nullopt), 1, 2, 3);
  expectTriple(BundleVersion("1.2b3", std::nullopt), 1, 0, 0);
  expectTriple(BundleVersion("", std::nullopt), 0, 0, 0);
  expectTriple(BundleVersion(std::nullopt, std::nullopt), 0, 0, 0);
  expectTriple(BundleVersion("+4..+5", std::nullopt), 4, 5, 0);
  expectTriple(BundleVersion("+.-1. 2.3", std::nullopt), 3, 0, 0);
  // Past 64 bits is not a number (no wrap-around); the largest value still is.
  expectTriple(BundleVersion("18446744073709551616.18446744073709551615", std::nullopt), 18446744073709551615u, 0,
               0);
  EXPECT_EQ(BundleVersion("1", std::string("${VERSION}")).shortVersionString, "${VERSION}");
}

TEST(BundleVersionTest, OrdersByNumbersAndComparesAllFields) {
  const BundleVersion a("1.2.3", std::string("1.2"));
  EXPECT_EQ(a, BundleVersion("1.2.3", std::string("1.2")));
  EXPECT_NE(a, BundleVersion("1.2.3", std::string("1.2.3")));
  EXPECT_NE(a, BundleVersion("1.2.3", std::nullopt));
  EXPECT_EQ(BundleVersion("1.2.3", std::nullopt), BundleVersion("1.2.3", std::nullopt));
  const BundleVersion b("1.2.3", std::string("other"));
  EXPECT_FALSE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_TRUE(a <= b && a >= b);

  EXPECT_GT(BundleVersion("2.0.0", std::nullopt), BundleVersion("1.9.9", std::nullopt));
  EXPECT_LT(BundleVersion("1.2.9", std::nullopt), BundleVersion("1.3", std::nullopt));
  EXPECT_LT(BundleVersion("1.2.3", std::nullopt), BundleVersion("1.2.4", std::nullopt));
  EXPECT_FALSE(BundleVersion("1.2.4", std::nullopt) <= BundleVersion("1.2.3", std::nullopt));
}

TEST(BundleVersionTest, ComparesVersionTextsNumerically) {
  EXPECT_TRUE(isVersionEqualTo("1.0", "1.0.0"));
  EXPECT_TRUE(isVersionEqualTo("1", "1.0"));
  EXPECT_TRUE(isVersionGreaterThan("1.10", "1.9"));
  EXPECT_FALSE(isVersionGreaterThan("1.9", "1.10"));
  EXPECT_TRUE(isVersionLessThanOrEqualTo("2", "2.0.1"));
  EXPECT_FALSE(isVersionGreaterThanOrEqualTo("2", "2.0.1"));
  EXPECT_TRUE(isVersionLessThan("1.2a", "1.2b"));
  EXPECT_TRUE(isVersionLessThan("1.2", "1.2a"));
  EXPECT_TRUE(isVersionGreaterThan("1.0b10", "1.0b9"));
  EXPECT_TRUE(isVersionEqualTo("1.01", "1.1"));
  EXPECT_TRUE(isVersionLessThan("", "0.1"));
  EXPECT_TRUE(isVersionLessThan("", "0"));  // an empty component sorts before any digit
  // Digit runs longer than any integer type still compare by value.
  EXPECT_TRUE(isVersionGreaterThan("1.100000000000000000000000000001", "1.100000000000000000000000000000"));
  EXPECT_TRUE(isVersionLessThan("1.99999999999999999999", "1.100000000000000000000"));
  EXPECT_TRUE(isVersionGreaterThanOrEqualTo("3.0", "3"));
  EXPECT_TRUE(isVersionLessThanOrEqualTo("3.0", "3"));
}

}  // namespace
}  // namespace vantelkit
