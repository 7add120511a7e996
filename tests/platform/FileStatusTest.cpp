#include "vantelkit/platform/FileStatus.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/ScanFixtureTree.h"
#include "vantelkit/platform/FileSystemCapacity.h"
#include "vantelkit/platform/LocalTime.h"

namespace vantelkit::platform {
namespace {

using vantel::testing::ScanFixtureTree;

TEST(FileStatusTest, SmallFilesAreReadWholeAndNothingElseIsRead) {
  ScanFixtureTree tree;
  const std::string file = tree.file("a", 10);
  tree.symbolicLink("link", "a");
  std::error_code error;
  EXPECT_EQ(readSmallFile(file, 10, false, error), std::string(10, 'x'));
  EXPECT_FALSE(error);
  EXPECT_FALSE(readSmallFile(file, 9, false, error));
  EXPECT_EQ(error, std::errc::file_too_large);
  EXPECT_FALSE(readSmallFile(tree.path("link"), 100, false, error));
  EXPECT_EQ(error, std::errc::too_many_symbolic_link_levels);
  EXPECT_EQ(readSmallFile(tree.path("link"), 100, true, error)->size(), 10u);
  EXPECT_FALSE(readSmallFile(tree.path("missing"), 100, false, error));
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
  EXPECT_FALSE(readSmallFile(tree.root(), 100, false, error));
  EXPECT_EQ(error, std::errc::invalid_argument);
  if (tree.fifo("pipe")) {  // never opened for a read that would wait for a writer
    EXPECT_FALSE(readSmallFile(tree.path("pipe"), 100, false, error));
    EXPECT_EQ(error, std::errc::invalid_argument);
  }
}

TEST(FileStatusTest, StickyFoldersAreFoldersWithTheBitAndNoLinks) {
  ScanFixtureTree tree;
  tree.directory("plain");
  tree.directory("sticky");
  std::filesystem::permissions(tree.path("sticky"), std::filesystem::perms(01777));
  tree.symbolicLink("link", "sticky");
  EXPECT_TRUE(isStickyFolderNotFollowingLink(tree.path("sticky")));
  EXPECT_FALSE(isStickyFolderNotFollowingLink(tree.path("plain")));
  EXPECT_FALSE(isStickyFolderNotFollowingLink(tree.path("link")));
  EXPECT_FALSE(isStickyFolderNotFollowingLink(tree.path("missing")));
}

TEST(FileStatusTest, TheSystemAnswersCapacityAndLocalTime) {
  auto capacity = FileSystemCapacity::shared().capacityOf("/");
  ASSERT_TRUE(capacity);
  EXPECT_GT(capacity->totalBytes, 0u);
  EXPECT_LE(capacity->availableBytes, capacity->totalBytes);
  EXPECT_FALSE(FileSystemCapacity::shared().capacityOf("/no/such/folder"));
  const auto now = localDateTimeNow();
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, daysInMonth(now.year, now.month));
}

}  // namespace
}  // namespace vantelkit::platform
