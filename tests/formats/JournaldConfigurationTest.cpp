#include "vantelkit/formats/JournaldConfiguration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vantelkit {
namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

TEST(JournaldConfigurationTest, SizesTakeBinarySuffixes) {
  EXPECT_EQ(parseJournalSize("1024"), 1024u);
  EXPECT_EQ(parseJournalSize("500K"), 500u * 1024);
  EXPECT_EQ(parseJournalSize(" 64 M "), 64u << 20);
  EXPECT_EQ(parseJournalSize("4G"), 4 * kGiB);
  EXPECT_EQ(parseJournalSize("1.5G"), kGiB + kGiB / 2);
  EXPECT_EQ(parseJournalSize("2T"), std::uint64_t{2} << 40);
  EXPECT_EQ(parseJournalSize("7B"), 7u);
  for (const char* bad : {"", "G", "4GB", "4g", "-1G", "1.2.3", "20000000000000000000", "16E", "10%"})
    EXPECT_FALSE(parseJournalSize(bad)) << bad;
}

TEST(JournaldConfigurationTest, LaterFilesOverrideAndEmptyResets) {
  const std::string main = "[Journal]\n#SystemMaxUse=9G\nStorage=persistent\nSystemMaxUse=2G\n";
  EXPECT_EQ(applyJournaldConfiguration(main, std::nullopt), 2 * kGiB);
  EXPECT_EQ(applyJournaldConfiguration("[Journal]\nSystemMaxUse=\n", 2 * kGiB), std::nullopt);
  EXPECT_EQ(applyJournaldConfiguration("[Journal]\nSystemMaxUse=lots\n", 2 * kGiB), 2 * kGiB);
  EXPECT_EQ(applyJournaldConfiguration("[Other]\nSystemMaxUse=1G\n", 2 * kGiB), 2 * kGiB);
  EXPECT_EQ(applyJournaldConfiguration("[Journal]\nSystemMaxUse = 1G\nSystemMaxUse=512M\n", std::nullopt),
            std::uint64_t{512} << 20);
  EXPECT_EQ(applyJournaldConfiguration("[Journal]\nRuntimeMaxUse=1G\n", std::nullopt), std::nullopt);
}

TEST(JournaldConfigurationTest, DropInsGoByNameWithTheFirstFolderWinning) {
  EXPECT_THAT(journaldDropInOrder({{"/etc/systemd/journald.conf.d", {"50-size.conf", "README", "10-a.conf"}},
                                   {"/run/systemd/journald.conf.d", {"20-b.conf"}},
                                   {"/usr/lib/systemd/journald.conf.d", {"50-size.conf", "05-vendor.conf", ".conf"}}}),
              ::testing::ElementsAre("/usr/lib/systemd/journald.conf.d/05-vendor.conf",
                                     "/etc/systemd/journald.conf.d/10-a.conf", "/run/systemd/journald.conf.d/20-b.conf",
                                     "/etc/systemd/journald.conf.d/50-size.conf"));
}

TEST(JournaldConfigurationTest, TheDefaultCapIsATenthOfTheFileSystemAtMostFourGiB) {
  EXPECT_EQ(journalCap(std::nullopt, 20 * kGiB), 2 * kGiB);
  EXPECT_EQ(journalCap(std::nullopt, 40 * kGiB), 4 * kGiB);
  EXPECT_EQ(journalCap(std::nullopt, 500 * kGiB), 4 * kGiB);
  EXPECT_EQ(journalCap(std::nullopt, 1000), 100u);
  EXPECT_EQ(journalCap(std::nullopt, 0), 0u);
  EXPECT_EQ(journalCap(8 * kGiB, 20 * kGiB), 8 * kGiB);  // the configured size, even above the default
}

}  // namespace
}  // namespace vantelkit
