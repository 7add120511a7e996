#include "vantelkit/formats/TrashInfo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fixtures/TrashFiles.h"
#include "vantelkit/formats/TrashDirectorySizes.h"

namespace vantelkit {
namespace {

using platform::LocalDateTime;

TEST(TrashInfoTest, ReadsThePathDecodedAndTheDeletionDate) {
  auto info = parseTrashInfo(
      "# written by a file manager\n[Trash Info]\nPath=/home/u/Documents/Q3%20report%E2%82%AC.pdf\n"
      "DeletionDate=2024-12-01T09:05:07\n");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->path, "/home/u/Documents/Q3 report\xE2\x82\xAC.pdf");
  EXPECT_EQ(info->deletionDate, (LocalDateTime{2024, 12, 1, 9, 5, 7}));
  EXPECT_EQ(info->originalPath("/media/usb"), info->path);

  // A volume's trash: relative to the volume's top folder; spaces around "=", CRLF endings.
  auto relative = parseTrashInfo("[Other]\nPath=/elsewhere\n[Trash Info]\r\nPath = photos/a%2Fb.jpg\r\n");
  ASSERT_TRUE(relative);
  EXPECT_EQ(relative->path, "photos/a/b.jpg");
  EXPECT_EQ(relative->originalPath("/media/usb"), "/media/usb/photos/a/b.jpg");
  EXPECT_EQ(relative->originalPath("/"), "/photos/a/b.jpg");
  EXPECT_FALSE(relative->deletionDate);
  // The fixture writes what the reader reads.
  EXPECT_EQ(parseTrashInfo(fixtures::trashInfoText("/h/odd %name\n", "2020-02-29T23:59:60"))->path, "/h/odd %name\n");
}

TEST(TrashInfoTest, AMissingPathIsNoInformationAndABadDateIsNoDate) {
  EXPECT_FALSE(parseTrashInfo(""));
  EXPECT_FALSE(parseTrashInfo("[Trash Info]\nDeletionDate=2024-12-01T09:05:07\n"));
  EXPECT_FALSE(parseTrashInfo("[Trash Info]\nPath=\n"));
  EXPECT_FALSE(parseTrashInfo("Path=/a\n[Trash Info]\n"));  // outside the group
  for (const char* date : {"2024-13-01T00:00:00", "2023-02-29T00:00:00", "2024-12-01 09:05:07", "2024-12-01T24:00:00",
                           "2024-12-01T09:05", "2024-12-01T09:05:07Z", "yesterday", ""}) {
    auto info = parseTrashInfo(std::string("[Trash Info]\nPath=/a\nDeletionDate=") + date + "\n");
    ASSERT_TRUE(info) << date;
    EXPECT_FALSE(info->deletionDate) << date;
  }
  EXPECT_TRUE(parseTrashDeletionDate("2024-02-29T00:00:00"));
}

TEST(TrashInfoTest, PercentDecodingKeepsWhatIsNotAnEscape) {
  EXPECT_EQ(percentDecoded("a%20b%2"), "a b%2");
  EXPECT_EQ(percentDecoded("%zz%00%4a%4A%"), "%zz%00JJ%");
}

TEST(TrashInfoTest, DayNumbersCountCalendarDays) {
  EXPECT_EQ((LocalDateTime{1970, 1, 1}).dayNumber(), 0);
  EXPECT_EQ((LocalDateTime{2000, 3, 1}).dayNumber() - (LocalDateTime{2000, 2, 28}).dayNumber(), 2);
  EXPECT_EQ((LocalDateTime{2025, 1, 1}).dayNumber() - (LocalDateTime{2024, 1, 1}).dayNumber(), 366);
  EXPECT_EQ((LocalDateTime{1969, 12, 31}).dayNumber(), -1);
}

TEST(TrashDirectorySizesTest, ReadsSizeTimeAndDecodedNameSkippingBadLines) {
  const auto sizes = parseTrashDirectorySizes(
      "4096 1733043907 Old%20Photos\n"
      "12 x bad\n"
      "-5 1 negative\n"
      "7 1 \n"
      "8 2 a%2Fb\n"
      "99999999999999999999999 1 huge\n"
      "16384 1733043999 src\r\n"
      "1 2");
  EXPECT_THAT(sizes, ::testing::ElementsAre(TrashDirectorySize{4096, 1733043907, "Old Photos"},
                                            TrashDirectorySize{16384, 1733043999, "src"}));
}

}  // namespace
}  // namespace vantelkit
