#include "vantelkit/foundation/LocalizedStrings.h"

#include <gtest/gtest.h>

#include "vantelkit/platform/Resources.h"

namespace vantelkit {
namespace {

std::string format(std::string_view text, std::initializer_list<FormatArgument> arguments) {
  return formatText(text, std::span<const FormatArgument>(arguments.begin(), arguments.size()));
}

TEST(FormatTextTest, FillsTextsAndIntegers) {
  using namespace std::string_literals;
  EXPECT_EQ(format("100%% done", {}), "100% done");
  EXPECT_EQ(format("%@ (%ld copies)", {"a.txt"s, std::int64_t{3}}), "a.txt (3 copies)");
  EXPECT_EQ(format("%2$@ then %1$@", {"one"s, "two"s}), "two then one");
  EXPECT_EQ(format("[%5d|%-4d|%05d|%+d|%x|%#X|%lu]",
                   {std::int64_t{42}, std::int64_t{7}, std::int64_t{-12}, std::int64_t{5}, std::int64_t{255},
                    std::int64_t{255}, std::int64_t{9}}),
            "[   42|7   |-0012|+5|ff|0XFF|9]");
  EXPECT_EQ(format("%.2@|%6s|", {"\xC3\xA9t\xC3\xA9"s, "ab"s}), "\xC3\xA9t|    ab|");
  EXPECT_EQ(format("%d", {std::int64_t{INT64_MIN}}), "-9223372036854775808");
  EXPECT_EQ(format("%@ items", {std::int64_t{12}}), "12 items");
}

TEST(FormatTextTest, KeepsWhatItCannotFillAsWritten) {
  using namespace std::string_literals;
  // No argument, the wrong kind, unsupported conversions, a bad position, a dangling "%":
  // never read past the arguments, never crash.
  EXPECT_EQ(format("%@ and %d", {}), "%@ and %d");
  EXPECT_EQ(format("%d files", {"text"s}), "%d files");
  EXPECT_EQ(format("%f %*d %n %0$@ %3$@ 50%", {"x"s, std::int64_t{1}}), "%f %*d %n %0$@ %3$@ 50%");
  EXPECT_EQ(format("%99999999d", {std::int64_t{1}}), "%99999999d");
  EXPECT_EQ(format("%", {}), "%");
}

TEST(LocalizedStringsTest, LooksUpInOrderAndFallsBackToTheKey) {
  StringTable::Entries first{{"a", "Erstes"}, {"percent", "50%% off"}};
  StringTable::Entries second{{"a", "First"}, {"b", "Second %@"}};
  LocalizedStrings strings({StringTable(first), StringTable(second)});
  EXPECT_EQ(strings.text("a"), "Erstes");
  EXPECT_EQ(strings.text("b"), "Second %@");  // a fixed text is filled with no arguments
  EXPECT_EQ(strings.text("percent"), "50% off");
  EXPECT_EQ(strings.text("no_such_key"), "no_such_key");
  EXPECT_EQ(strings.format("b", {std::string("x")}), "Second x");
  EXPECT_EQ(strings.format("%@ unknown", {std::string("x")}), "x unknown");
  EXPECT_EQ(strings.rawText("percent"), "50%% off");
  EXPECT_EQ(strings.rawText("none"), std::nullopt);
}

TEST(LocalizedStringsTest, EmbeddedTableHasEveryKeyOfTheLibrary) {
  ASSERT_TRUE(platform::embeddedResource("Localizable.strings").has_value());
  ErrorPtr error;
  auto table = StringTable::parse(*platform::embeddedResource("Localizable.strings"), &error);
  ASSERT_TRUE(table) << error->localizedDescription();
  EXPECT_EQ(table->size(), 52u);
  LocalizedStrings english;
  EXPECT_EQ(english.text("clean_user_cache"), "User Cache");
  EXPECT_EQ(english.format("clean_group_copies", {std::string("report.pdf"), std::int64_t{3}}),
            "3 files named report.pdf");
  EXPECT_EQ(english.format("clean_group_bundle_cache", {std::string("Editor")}), "Editor Cache");
  EXPECT_EQ(english.text("application_resource_group_containers"), "Group Containers");
}

TEST(LocalizedStringsTest, LoadsAnotherLanguageInFrontOfTheBase) {
  auto german = platform::embeddedResource("de.lproj/Localizable.strings");
  ASSERT_TRUE(german.has_value());
  auto table = StringTable::parse(*german);
  ASSERT_TRUE(table);
  auto base = StringTable::parse(*platform::embeddedResource("Localizable.strings"));
  for (const auto& [key, value] : base->entries()) EXPECT_NE(table->find(key), nullptr) << key;

  LocalizedStrings de(std::string("de_DE"));  // falls back to the language part
  EXPECT_EQ(de.text("clean_large_files"), "Große Dateien");
  EXPECT_EQ(de.format("clean_group_copies", {std::string("a"), std::int64_t{2}}), "2 Dateien namens a");
  LocalizedStrings unknown(std::string("xx"));
  EXPECT_EQ(unknown.text("clean_large_files"), "Large Files");
  LocalizedStrings escaping(std::string("../de"));
  EXPECT_EQ(escaping.text("clean_large_files"), "Large Files");
}

TEST(LocalizedStringsTest, SharedInstanceKeepsItsLanguageOnceBuilt) {
  EXPECT_EQ(localizedString("clean_mail_downloads"), "Mail Downloads");
  EXPECT_FALSE(LocalizedStrings::setSharedLocale(std::string("de")));
  EXPECT_EQ(localizedString("clean_mail_downloads"), "Mail Downloads");
  EXPECT_EQ(localizedFormat("clean_group_bundle_cache", {std::string("Mail")}), "Mail Cache");
}

}  // namespace
}  // namespace vantelkit
