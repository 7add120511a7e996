#include "vantelkit/clean/ThumbnailScanProcedure.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fixtures/ThumbnailFiles.h"
#include "support/OtherUser.h"
#include "support/RunProcedure.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

using vantel::testing::byName;
using vantel::testing::ScanFixtureTree;
using Original = ThumbnailScanProcedure::Original;

using Contents = std::map<std::string, std::pair<std::uint64_t, std::string>>;

Contents contents(const CleanScanItem& container) {
  Contents found;
  for (const auto& child : container.children)
    found[child->name().value_or("?")] = {child->size, child->reason.value_or("")};
  return found;
}

class ThumbnailScanProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Paths::setRootOverride(tree.path("root"));
    platform::Paths::setHomeOverride(tree.path("home"));
  }
  void TearDown() override {
    platform::Paths::setRootOverride(std::nullopt);
    platform::Paths::setHomeOverride(std::nullopt);
  }

  std::uint64_t thumbnail(const std::string& relative, const std::vector<std::pair<std::string, std::string>>& texts) {
    EXPECT_TRUE(fixtures::writeThumbnail(tree.path(relative), texts));
    return std::filesystem::file_size(tree.path(relative));
  }
  std::uint64_t thumbnailOf(const std::string& relative, const std::string& original) {
    return thumbnail(relative, fixtures::thumbnailTexts(original, 1733043907));
  }

  // The sub-containers of "Thumbnails" by name.
  std::map<std::string, std::shared_ptr<CleanScanItem>> scan() {
    auto procedure = std::make_shared<ThumbnailScanProcedure>();
    auto items = vantel::testing::runToEnd(procedure);
    unreadable = procedure->unreadable();
    if (items.empty()) return {};
    EXPECT_EQ(items.size(), 1u);
    const auto& top = *items.begin();
    EXPECT_EQ(top->name(), "Thumbnails");
    std::uint64_t total = 0;
    for (const auto& child : top->children) total += child->size;
    EXPECT_EQ(top->size, total);
    return byName(top->children);
  }

  ScanFixtureTree tree;
  ThumbnailScanProcedure::Unreadable unreadable;
};

TEST_F(ThumbnailScanProcedureTest, SplitsLiveOrphanedFailedAndUnreadableThumbnails) {
  const std::string cache = "home/.cache/thumbnails/";
  const std::string photo = tree.file("home/Pictures/summer photo.jpg", 10);
  const auto live = thumbnailOf(cache + "normal/live.png", photo);
  const auto orphan = thumbnailOf(cache + "normal/orphan.png", tree.path("home/Pictures/deleted.jpg"));
  // Inside data, a path is the machine's own: not moved under the root override.
  tree.file("root/srv/photo.jpg", 5);
  const auto notUnderRoot = thumbnailOf(cache + "large/srv.png", "/srv/photo.jpg");
  const auto remote = thumbnail(cache + "x-large/remote.png", {{"Thumb::URI", "sftp://host/photo.jpg"}});
  const auto noAddress = thumbnail(cache + "xx-large/noaddress.png", {{"Thumb::MTime", "1"}});
  const std::string png = fixtures::thumbnailPng({{"Thumb::URI", "file:///x"}});
  std::ofstream(tree.path(cache + "normal/truncated.png"), std::ios::binary) << png.substr(0, png.size() - 5);
  const auto failed = thumbnailOf(cache + "fail/gnome-thumbnail-factory/failed.png", photo);
  tree.file(cache + "fail/stray", 3);  // not in a thumbnailer's folder
  tree.file(cache + "README", 9);      // not in a size folder
  tree.symbolicLink(cache + "normal/link.png", "live.png");
  const auto legacy = thumbnailOf("home/.thumbnails/normal/legacy.png", tree.path("home/nothing.png"));

  auto containers = scan();
  EXPECT_EQ(contents(*containers.at("Orphaned thumbnails")),
            (Contents{{"orphan.png", {orphan, "thumbnail of a file that no longer exists"}},
                      {"srv.png", {notUnderRoot, "thumbnail of a file that no longer exists"}},
                      {"legacy.png", {legacy, "thumbnail of a file that no longer exists"}}}));
  EXPECT_EQ(contents(*containers.at("Thumbnails of existing files")),
            (Contents{{"live.png", {live, "thumbnail of an existing file"}},
                      {"remote.png", {remote, "thumbnail of a non-local file"}}}));
  EXPECT_EQ(contents(*containers.at("Failed thumbnails")),
            (Contents{{"failed.png", {failed, "failed thumbnail attempt"}}}));
  EXPECT_EQ(contents(*containers.at("Unreadable thumbnails")),
            (Contents{{"noaddress.png", {noAddress, "unreadable thumbnail"}},
                      {"truncated.png", {png.size() - 5, "unreadable thumbnail"}}}));
  EXPECT_EQ(containers.size(), 4u);
  EXPECT_TRUE(unreadable.empty());
}

TEST_F(ThumbnailScanProcedureTest, WithoutACacheThereIsNoContainerAndEmptyCachesGiveTwo) {
  EXPECT_TRUE(scan().empty());
  tree.directory("home/.thumbnails");
  auto containers = scan();
  EXPECT_EQ(containers.size(), 2u);
  EXPECT_TRUE(containers.at("Orphaned thumbnails")->children.empty());
  EXPECT_TRUE(containers.at("Thumbnails of existing files")->children.empty());
}

TEST(ThumbnailAddressTest, LocalPathsOfFileAddresses) {
  EXPECT_EQ(ThumbnailScanProcedure::localPathOfURI("file:///home/u/a%20b.jpg"), "/home/u/a b.jpg");
  EXPECT_EQ(ThumbnailScanProcedure::localPathOfURI("file://localhost/x"), "/x");
  EXPECT_EQ(ThumbnailScanProcedure::localPathOfURI("FILE:///x?query#part"), "/x");
  EXPECT_EQ(ThumbnailScanProcedure::localPathOfURI("file:///a%00b"), "/a%00b");  // no NUL in a path
  for (const char* other : {"file://server/x", "file:/x", "file://", "http://h/x", "trash:///a", ""})
    EXPECT_FALSE(ThumbnailScanProcedure::localPathOfURI(other)) << other;
  EXPECT_EQ(ThumbnailScanProcedure::originalOf(std::nullopt), Original::unknown);
  EXPECT_EQ(ThumbnailScanProcedure::originalOf("smb://nas/share/a.jpg"), Original::nonLocal);
  EXPECT_EQ(ThumbnailScanProcedure::originalOf("file:///"), Original::existing);
  EXPECT_EQ(ThumbnailScanProcedure::originalOf("file:///proc/self/no-such-entry"), Original::missing);
}

// As a user without root's rights: a thumbnail it may not open is named in unreadable(), and
// is no item; an original behind a closed folder counts as existing.
TEST_F(ThumbnailScanProcedureTest, WhatTheUserCannotReadIsNamedNotShown) {
  const std::string test = "ThumbnailScanProcedureTest.WhatTheUserCannotReadIsNamedNotShown";
  if (vantel::testing::runningAsOtherUser()) {
    const std::string root = vantel::testing::otherUserArgument();
    platform::Paths::setHomeOverride(root + "/home");
    auto procedure = std::make_shared<ThumbnailScanProcedure>();
    auto items = vantel::testing::runToEnd(procedure);
    ASSERT_EQ(items.size(), 1u);
    auto containers = byName((*items.begin())->children);
    EXPECT_EQ(contents(*containers.at("Thumbnails of existing files")).size(), 2u);  // open.png, closed.png
    EXPECT_TRUE(containers.at("Orphaned thumbnails")->children.empty());
    const auto unreadableEntries = procedure->unreadable();
    ASSERT_EQ(unreadableEntries.size(), 1u);
    EXPECT_EQ(unreadableEntries[0].path, root + "/home/.cache/thumbnails/normal/private.png");
    EXPECT_EQ(platform::errorCodeFromNumber(unreadableEntries[0].error), std::errc::permission_denied);
    return;
  }
  namespace fs = std::filesystem;
  fs::permissions(tree.root(), fs::perms(0755));
  const std::string cache = "home/.cache/thumbnails/normal/";
  thumbnailOf(cache + "open.png", tree.file("home/Pictures/open.jpg", 1));
  thumbnailOf(cache + "closed.png", tree.path("home/Closed/secret.jpg"));
  tree.directory("home/Closed");
  fs::permissions(tree.path("home/Closed"), fs::perms(0700));
  thumbnailOf(cache + "private.png", tree.path("home/gone.jpg"));
  fs::permissions(tree.path(cache + "private.png"), fs::perms(0600));
  auto status = vantel::testing::rerunAsOtherUser(test, tree.root());
  if (!status) GTEST_SKIP() << "cannot switch to another user here";
  EXPECT_EQ(*status, 0);
}

}  // namespace
}  // namespace vantelkit
