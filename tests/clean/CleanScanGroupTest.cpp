#include "vantelkit/clean/CleanScanGroup.h"

#include <gtest/gtest.h>

#include <set>
#include <unordered_map>

#include "vantelkit/scanning/ScanPhrases.h"
#include "vantelkit/clean/StatisticsTimePeriod.h"
#include "vantelkit/foundation/LocalizedStrings.h"

namespace vantelkit {
namespace {

TEST(CleanScanGroupTest, RawValuesRoundTripExactly) {
  ASSERT_EQ(allCleanScanGroups.size(), 9u);
  EXPECT_EQ(allCleanScanGroups.front(), CleanScanGroup::downloads);
  EXPECT_EQ(allCleanScanGroups.back(), CleanScanGroup::mailAttachments);
  for (CleanScanGroup group : allCleanScanGroups) EXPECT_EQ(cleanScanGroupFromRawValue(rawValue(group)), group);
  EXPECT_EQ(rawValue(CleanScanGroup::userCache), "userCache");
  EXPECT_EQ(cleanScanGroupFromRawValue("mailAttachments"), CleanScanGroup::mailAttachments);
  EXPECT_EQ(cleanScanGroupFromRawValue("MailAttachments"), std::nullopt);
  EXPECT_EQ(cleanScanGroupFromRawValue("usercache"), std::nullopt);
  EXPECT_EQ(cleanScanGroupFromRawValue(""), std::nullopt);
  EXPECT_EQ(cleanScanGroupFromRawValue("downloads "), std::nullopt);
  EXPECT_EQ(std::hash<CleanScanGroup>{}(CleanScanGroup::packages), std::hash<std::string_view>{}("packages"));
  std::unordered_map<CleanScanGroup, int> byGroup;
  for (CleanScanGroup group : allCleanScanGroups) byGroup[group] = 1;
  EXPECT_EQ(byGroup.size(), 9u);
}

TEST(CleanScanGroupTest, EveryTextComesFromTheTable) {
  EXPECT_EQ(nameKey(CleanScanGroup::packages), "clean_installer_packages");
  EXPECT_EQ(descriptionKey(CleanScanGroup::developer), "clean_developer_description");
  EXPECT_EQ(localizedName(CleanScanGroup::userCache), "User Cache");
  for (CleanScanGroup group : allCleanScanGroups) {
    // A missing entry would show the key itself.
    EXPECT_NE(localizedName(group), nameKey(group));
    EXPECT_NE(localizedDescription(group), descriptionKey(group));
  }
  for (std::string_view key : {"clean_calculating_size", "clean_mail_downloads"}) {
    EXPECT_NE(localizedString(key), key);
  }
}

TEST(ScanPhrasesTest, RandomPhraseIsOneOfTheTable) {
  std::set<std::string> phrases;
  for (std::string_view key : scanPhraseKeys) {
    const std::string phrase = localizedString(key);
    EXPECT_NE(phrase, key);
    phrases.insert(phrase);
  }
  EXPECT_EQ(phrases.size(), 17u);
  EXPECT_EQ(scanPhraseKeys.front(), "clean_digging_through");
  EXPECT_EQ(scanPhraseKeys.back(), "clean_collecting");
  std::set<std::string> drawn;
  for (int k = 0; k < 2000; ++k) {
    const std::string phrase = randomScanPhrase();
    EXPECT_EQ(phrases.count(phrase), 1u) << phrase;
    drawn.insert(phrase);
  }
  // With 2000 uniform draws over 17 phrases, missing one has a chance below 1e-50.
  EXPECT_EQ(drawn.size(), 17u);
}

TEST(StatisticsTimePeriodTest, HasFixedEnglishNames) {
  EXPECT_EQ(localizedName(StatisticsTimePeriod::tenSeconds), "Ten seconds");
  EXPECT_EQ(localizedName(StatisticsTimePeriod::thirtySeconds), "Thirty seconds");
  EXPECT_EQ(localizedName(StatisticsTimePeriod::minute), "Minute");
  EXPECT_EQ(localizedName(StatisticsTimePeriod::threeMinutes), "Three minutes");
  EXPECT_EQ(allStatisticsTimePeriods.size(), 4u);
}

}  // namespace
}  // namespace vantelkit
