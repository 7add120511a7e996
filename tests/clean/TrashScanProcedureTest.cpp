#include "vantelkit/clean/TrashScanProcedure.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fixtures/TrashFiles.h"
#include "support/FakeVolumes.h"
#include "support/OtherUser.h"
#include "support/RunProcedure.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

using ::testing::ElementsAre;
using vantel::testing::byName;
using vantel::testing::FakeVolumes;
using vantel::testing::ScanFixtureTree;

const std::string kUid = std::to_string(platform::currentUserId());

class TrashScanProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Paths::setRootOverride(tree.path("root"));
    platform::Paths::setHomeOverride(tree.path("home"));
    tree.directory("root");
    platform::Volumes::setShared(volumes);
  }
  void TearDown() override {
    platform::Paths::setRootOverride(std::nullopt);
    platform::Paths::setHomeOverride(std::nullopt);
    platform::Volumes::setShared(nullptr);
  }

  void addVolume(const std::string& relative, const std::string& type = "ext4", bool removable = false) {
    volumes->volumes.push_back({tree.path(relative), "/dev/sdz1", type, false, removable});
  }

  std::string homeTrash() const { return tree.path("home/.local/share/Trash"); }

  // The containers by name.
  std::map<std::string, std::shared_ptr<CleanScanItem>> scan(bool usage = false) {
    auto procedure = std::make_shared<TrashScanProcedure>(usage);
    auto items = vantel::testing::runToEnd(procedure);
    unreadable = procedure->unreadable();
    return byName({items.begin(), items.end()});
  }

  static std::map<std::string, std::pair<std::uint64_t, std::string>> contents(const CleanScanItem& container) {
    std::map<std::string, std::pair<std::uint64_t, std::string>> found;
    for (const auto& child : container.children)
      found[child->name().value_or("?")] = {child->size, child->reason.value_or("")};
    return found;
  }

  static std::string daysAgo(int year, int month, int day) {
    return std::to_string(platform::localDateTimeNow().dayNumber() -
                          platform::LocalDateTime{year, month, day}.dayNumber());
  }

  ScanFixtureTree tree;
  std::shared_ptr<FakeVolumes> volumes = std::make_shared<FakeVolumes>();
  TrashScanProcedure::Unreadable unreadable;
};

TEST_F(TrashScanProcedureTest, EachTrashedItemWithItsOriginAgeAndSize) {
  using fixtures::TrashedItem;
  ASSERT_TRUE(fixtures::writeTrash(
      homeTrash(),
      {TrashedItem{.name = "report.pdf", .originalPath = "/home/u/Documents/report.pdf", .fileSize = 1200},
       TrashedItem{.name = "Old Photos",
                   .originalPath = "/home/u/Pictures/Old Photos",
                   .deletionDate = "2024-11-30T23:59:59",
                   .folderFiles = {{"a/1.jpg", 300}, {"b.jpg", 200}},
                   .cachedSize = 9999},
       TrashedItem{
           .name = "draft.pdf", .originalPath = "/home/u/draft.pdf", .deletionDate = "yesterday", .fileSize = 7},
       TrashedItem{.name = "stray.txt", .originalPath = "", .fileSize = 10, .writeInformation = false},
       TrashedItem{.name = "gone.txt", .originalPath = "/home/u/gone.txt", .writeItem = false}}));
  tree.file("home/.local/share/Trash/files/nopath", 3);
  std::ofstream(homeTrash() + "/info/nopath.trashinfo") << "[Trash Info]\nDeletionDate=2024-12-01T10:00:00\n";
  tree.file("home/.local/share/Trash/info/unrelated.txt", 4);  // not an information file

  auto containers = scan();
  ASSERT_EQ(containers.size(), 1u);
  const auto& trash = *containers.at("Trash");
  EXPECT_FALSE(trash.file);
  const std::uint64_t infoSize = fixtures::trashInfoText("/home/u/gone.txt", "2024-12-01T10:00:00").size();
  EXPECT_EQ(
      contents(trash),
      (std::map<std::string, std::pair<std::uint64_t, std::string>>{
          {"report.pdf", {1200, "trashed " + daysAgo(2024, 12, 1) + " days ago from /home/u/Documents/report.pdf"}},
          {"Old Photos", {500, "trashed " + daysAgo(2024, 11, 30) + " days ago from /home/u/Pictures/Old Photos"}},
          {"draft.pdf", {7, "trashed from /home/u/draft.pdf, deletion date unknown"}},
          {"stray.txt", {10, "no information file"}},
          {"gone.txt.trashinfo", {infoSize, "information file without a trashed item"}},
          {"nopath", {3, "information file without a path"}}}));
  EXPECT_EQ(trash.size, 1200u + 500 + 7 + 10 + infoSize + 3);
  EXPECT_TRUE(unreadable.empty());
}

TEST_F(TrashScanProcedureTest, TheDirectorySizesCacheServesAllocatedBytesWhereItIsCurrent) {
  using fixtures::TrashedItem;
  ASSERT_TRUE(fixtures::writeTrash(
      homeTrash(),
      {TrashedItem{.name = "cached", .originalPath = "/h/cached", .folderFiles = {{"f", 100}}, .cachedSize = 9999},
       TrashedItem{.name = "stale",
                   .originalPath = "/h/stale",
                   .folderFiles = {{"f", 100}},
                   .cachedSize = 7777,
                   .timeOffset = -5}}));
  const auto usage = static_cast<std::uint64_t>(platform::pathStatus(homeTrash() + "/files/stale/f", false).usage);
  auto children = byName(scan(true).at("Trash")->children);
  EXPECT_EQ(children.at("cached")->size, 9999u);
  EXPECT_EQ(children.at("stale")->size, usage);
  // Logical sizes are always measured.
  children = byName(scan(false).at("Trash")->children);
  EXPECT_EQ(children.at("cached")->size, 100u);
  EXPECT_EQ(children.at("stale")->size, 100u);
}

TEST_F(TrashScanProcedureTest, VolumeTrashesFromTheMountTable) {
  using fixtures::TrashedItem;
  tree.directory("home/.local/share/Trash");
  // .Trash/$uid below a sticky .Trash, and .Trash-$uid: both count.
  tree.directory("root/media/disk/.Trash");
  std::filesystem::permissions(tree.path("root/media/disk/.Trash"), std::filesystem::perms(01777));
  ASSERT_TRUE(
      fixtures::writeTrash(tree.path("root/media/disk/.Trash/" + kUid),
                           {TrashedItem{.name = "photo.jpg", .originalPath = "photos/photo.jpg", .fileSize = 40}}));
  ASSERT_TRUE(fixtures::writeTrash(tree.path("root/media/disk/.Trash-" + kUid),
                                   {TrashedItem{.name = "a.txt", .originalPath = "/elsewhere/a.txt", .fileSize = 5}}));
  addVolume("root/media/disk");
  // .Trash not sticky, or a link to a sticky one: not a trash.
  tree.directory("root/media/plain/.Trash/" + kUid);
  addVolume("root/media/plain");
  tree.directory("root/media/linked/sticky/" + kUid);
  std::filesystem::permissions(tree.path("root/media/linked/sticky"), std::filesystem::perms(01777));
  tree.symbolicLink("root/media/linked/.Trash", "sticky");
  addVolume("root/media/linked");
  // Removable, network and pseudo file systems are not walked; nor is what lies outside the root.
  tree.directory("root/media/usb/.Trash-" + kUid);
  addVolume("root/media/usb", "vfat", true);
  tree.directory("root/net/.Trash-" + kUid);
  addVolume("root/net", "nfs4");
  tree.directory("root/proc/.Trash-" + kUid);
  addVolume("root/proc", "proc");
  tree.directory("outside/.Trash-" + kUid);
  addVolume("outside");

  const auto disk = tree.path("root/media/disk");
  EXPECT_EQ(TrashScanProcedure::trashFolders(),
            (std::vector<TrashScanProcedure::TrashFolder>{{homeTrash(), "/", "Trash"},
                                                          {disk + "/.Trash/" + kUid, disk, "Trash on " + disk},
                                                          {disk + "/.Trash-" + kUid, disk, "Trash on " + disk}}));
  auto containers = scan();
  ASSERT_EQ(containers.size(), 2u);
  EXPECT_TRUE(containers.at("Trash")->children.empty());
  // The volume's two trashes make one container.
  auto onDisk = byName(containers.at("Trash on " + disk)->children);
  ASSERT_EQ(onDisk.size(), 2u);
  EXPECT_EQ(onDisk.at("photo.jpg")->size, 40u);
  EXPECT_EQ(onDisk.at("photo.jpg")->file->url().path(), disk + "/.Trash/" + kUid + "/files/photo.jpg");
  EXPECT_THAT(onDisk.at("photo.jpg")->reason.value_or(""),
              ::testing::EndsWith(" days ago from " + disk + "/photos/photo.jpg"));
  EXPECT_EQ(onDisk.at("a.txt")->size, 5u);
  EXPECT_EQ(containers.at("Trash on " + disk)->size, 45u);

  // A removable volume that holds the home is the home's own, and is looked at (without a root
  // override: with one, only volumes below the root count).
  volumes->volumes = {{tree.path("home"), "/dev/sdy1", "vfat", false, true}};
  tree.directory("home/.Trash-" + kUid);
  EXPECT_EQ(TrashScanProcedure::trashFolders().size(), 1u);
  platform::Paths::setRootOverride(std::nullopt);
  EXPECT_EQ(TrashScanProcedure::trashFolders().size(), 2u);
}

TEST_F(TrashScanProcedureTest, ReasonsCountCalendarDays) {
  const platform::LocalDateTime now{2025, 1, 1, 0, 30, 0};
  EXPECT_EQ(TrashScanProcedure::trashedReason(platform::LocalDateTime{2024, 12, 31, 23, 59, 0}, now, "/a"),
            "trashed 1 day ago from /a");
  EXPECT_EQ(TrashScanProcedure::trashedReason(platform::LocalDateTime{2024, 12, 20, 1, 0, 0}, now, "/a"),
            "trashed 12 days ago from /a");
  EXPECT_EQ(TrashScanProcedure::trashedReason(platform::LocalDateTime{2025, 1, 1, 0, 0, 0}, now, "/a"),
            "trashed today from /a");
  EXPECT_EQ(TrashScanProcedure::trashedReason(platform::LocalDateTime{2025, 3, 1}, now, "/a"), "trashed today from /a");
  EXPECT_EQ(TrashScanProcedure::trashedReason(std::nullopt, now, "/a"), "trashed from /a, deletion date unknown");
}

// As a user without root's rights: a trashed folder closed to the user, and an information
// file it may not read, are named in unreadable(); the items stay, with what could be known.
TEST_F(TrashScanProcedureTest, WhatTheUserCannotReadIsNamed) {
  const std::string test = "TrashScanProcedureTest.WhatTheUserCannotReadIsNamed";
  if (vantel::testing::runningAsOtherUser()) {
    const std::string root = vantel::testing::otherUserArgument();
    platform::Paths::setHomeOverride(root + "/home");
    const std::string trash = root + "/home/.local/share/Trash";
    auto children = byName(scan().at("Trash")->children);
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children.at("locked")->size, 0u);
    EXPECT_THAT(children.at("locked")->reason.value_or(""), ::testing::EndsWith(" days ago from /h/locked"));
    EXPECT_EQ(children.at("secret.txt")->size, 5u);
    EXPECT_EQ(children.at("secret.txt")->reason, "information file cannot be read");
    std::vector<std::string> paths;
    for (const auto& entry : unreadable) {
      paths.push_back(entry.path);
      EXPECT_EQ(platform::errorCodeFromNumber(entry.error), std::errc::permission_denied) << entry.path;
    }
    EXPECT_THAT(paths, ::testing::UnorderedElementsAre(trash + "/info/secret.txt.trashinfo", trash + "/files/locked"));
    return;
  }
  namespace fs = std::filesystem;
  fs::permissions(tree.root(), fs::perms(0755));
  using fixtures::TrashedItem;
  ASSERT_TRUE(fixtures::writeTrash(
      homeTrash(), {TrashedItem{.name = "locked", .originalPath = "/h/locked", .folderFiles = {{"f", 100}}},
                    TrashedItem{.name = "secret.txt", .originalPath = "/h/secret.txt", .fileSize = 5}}));
  fs::permissions(homeTrash() + "/files/locked", fs::perms(0700));
  fs::permissions(homeTrash() + "/info/secret.txt.trashinfo", fs::perms(0600));
  auto status = vantel::testing::rerunAsOtherUser(test, tree.root());
  if (!status) GTEST_SKIP() << "cannot switch to another user here";
  EXPECT_EQ(*status, 0);
}

TEST_F(TrashScanProcedureTest, NoTrashNoItems) {
  EXPECT_TRUE(scan().empty());
  EXPECT_TRUE(unreadable.empty());
}

}  // namespace
}  // namespace vantelkit
