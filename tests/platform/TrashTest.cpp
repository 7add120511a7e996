#include "vantelkit/platform/Trash.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <iterator>

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

TEST(TrashTest, MoveToTrashWritesTheFreedesktopLayoutAndRestoreUndoesIt) {
  vantel::testing::ScanFixtureTree tree;
  tree.file("volume/report.txt", 12);
  tree.symbolicLink("volume/link", tree.path("volume/report.txt"));
  tree.directory("home");
  // The trash of the home folder, here on the tree's own file system. GLib reads these once
  // per process: when it read others first, the item lands elsewhere and the test only undoes.
  const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  const char* oldData = std::getenv("XDG_DATA_HOME");
  const std::string oldDataText = oldData ? oldData : "";
  setenv("HOME", tree.path("home").c_str(), 1);
  setenv("XDG_DATA_HOME", tree.path("home/data").c_str(), 1);
  auto trash = Trash::platformDefault();
  auto moved = trash->moveToTrash(tree.path("volume/report.txt"));
  auto movedLink = trash->moveToTrash(tree.path("volume/link"));
  setenv("HOME", oldHome.c_str(), 1);
  if (oldData) setenv("XDG_DATA_HOME", oldDataText.c_str(), 1); else unsetenv("XDG_DATA_HOME");
  ASSERT_TRUE(std::holds_alternative<Trash::Item>(moved)) << std::get<Trash::Failure>(moved).reason;
  ASSERT_TRUE(std::holds_alternative<Trash::Item>(movedLink)) << std::get<Trash::Failure>(movedLink).reason;
  const auto item = std::get<Trash::Item>(moved);
  const auto linkItem = std::get<Trash::Item>(movedLink);
  const bool ours = item.trashedPath.rfind(tree.path("home/data/Trash/files/"), 0) == 0;
  if (ours) {
    EXPECT_EQ(item.originalPath, tree.path("volume/report.txt"));
    EXPECT_EQ(item.infoPath, tree.path("home/data/Trash/info/report.txt.trashinfo"));
    std::ifstream info(item.infoPath);
    std::string text((std::istreambuf_iterator<char>(info)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.rfind("[Trash Info]\n", 0), 0u) << text;
    EXPECT_NE(text.find("Path=" + item.originalPath + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("DeletionDate="), std::string::npos) << text;
    // The link went itself, still pointing where it did.
    EXPECT_TRUE(fs::is_symlink(linkItem.trashedPath));
    EXPECT_EQ(fs::read_symlink(linkItem.trashedPath), tree.path("volume/report.txt"));
  }
  EXPECT_FALSE(present(item.originalPath));
  EXPECT_FALSE(trash->restore(item));
  EXPECT_FALSE(trash->restore(linkItem));
  EXPECT_EQ(fs::file_size(tree.path("volume/report.txt")), 12u);
  EXPECT_TRUE(fs::is_symlink(tree.path("volume/link")));
  EXPECT_FALSE(present(item.infoPath));
  if (!ours) GTEST_SKIP() << "GLib had read another home first; the trash there was used and undone";
  // Nothing there: a failure, nothing moved.
  auto missing = trash->moveToTrash(tree.path("volume/missing"));
  ASSERT_TRUE(std::holds_alternative<Trash::Failure>(missing));
  EXPECT_EQ(std::get<Trash::Failure>(missing).code, std::errc::no_such_file_or_directory);
}
