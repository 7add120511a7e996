#include "vantelkit/platform/Trash.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/ScanFixtureTree.h"

using vantelkit::platform::Trash;
namespace fs = std::filesystem;

namespace {

bool present(const std::string& path) { return fs::symlink_status(path).type() != fs::file_type::not_found; }

}  // namespace

TEST(TrashTest, PermanentRemovalTakesTheWholeTreeButNothingALinkPointsTo) {
  vantel::testing::ScanFixtureTree tree;
  tree.file("outside/keep", 5);
  tree.file("outside/folder/keep", 5);
  tree.file("gone/a/b/c/file", 10);
  tree.file("gone/odd\nname", 1);
  tree.symbolicLink("gone/to-folder", tree.path("outside/folder"));
  tree.symbolicLink("gone/a/to-file", tree.path("outside/keep"));
  tree.file("single", 3);
  auto trash = Trash::platformDefault();
  EXPECT_FALSE(trash->removePermanently(tree.path("gone")));
  EXPECT_FALSE(present(tree.path("gone")));
  EXPECT_TRUE(present(tree.path("outside/keep")));
  EXPECT_TRUE(present(tree.path("outside/folder/keep")));
  // A link is removed itself.
  tree.symbolicLink("link", tree.path("outside"));
  EXPECT_FALSE(trash->removePermanently(tree.path("link")));
  EXPECT_FALSE(present(tree.path("link")));
  EXPECT_TRUE(present(tree.path("outside/keep")));
  EXPECT_FALSE(trash->removePermanently(tree.path("single")));
  EXPECT_FALSE(present(tree.path("single")));
  // Nothing there, or no plain name: a failure, and nothing removed.
  auto missing = trash->removePermanently(tree.path("missing"));
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->code, std::errc::no_such_file_or_directory);
  EXPECT_TRUE(trash->removePermanently(tree.path("outside/..")));
  EXPECT_TRUE(trash->removePermanently(tree.path("outside/.")));
  EXPECT_TRUE(present(tree.path("outside/keep")));
}

TEST(TrashTest, RestorePutsAnItemBackButNeverOverWhatTookItsPlace) {
  vantel::testing::ScanFixtureTree tree;
  tree.file("Trash/files/report", 7);
  tree.file("Trash/info/report.trashinfo", 1);
  tree.directory("home");
  const Trash::Item item{tree.path("home/report"), tree.path("Trash/files/report"),
                         tree.path("Trash/info/report.trashinfo")};
  auto trash = Trash::platformDefault();
  tree.file("home/report", 1);  // something new in its place
  auto refused = trash->restore(item);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->code, std::errc::file_exists);
  EXPECT_TRUE(present(item.trashedPath));
  EXPECT_TRUE(present(item.infoPath));
  EXPECT_EQ(fs::file_size(item.originalPath), 1u);
  fs::remove(item.originalPath);
  EXPECT_FALSE(trash->restore(item));
  EXPECT_EQ(fs::file_size(item.originalPath), 7u);
  EXPECT_FALSE(present(item.trashedPath));
  EXPECT_FALSE(present(item.infoPath));
  // Its folder gone: refused.
  fs::rename(item.originalPath, item.trashedPath);
  fs::remove_all(tree.path("home"));
  EXPECT_TRUE(trash->restore(item));
  EXPECT_TRUE(present(item.trashedPath));
}
