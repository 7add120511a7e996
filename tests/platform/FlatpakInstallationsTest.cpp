#include "vantelkit/platform/FlatpakInstallations.h"

#include <gtest/gtest.h>

#include "support/FakeFlatpakInstallations.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit::platform {
namespace {

class FlatpakInstallationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Paths::setRootOverride(tree.path("root"));
    Paths::setHomeOverride(tree.path("home"));
  }
  void TearDown() override {
    Paths::setHomeOverride(std::nullopt);
    Paths::setRootOverride(std::nullopt);
    FlatpakInstallations::setShared(nullptr);
  }
  vantel::testing::ScanFixtureTree tree;
};

TEST_F(FlatpakInstallationsTest, NoInstallationBelowTheOverridesIsAnEmptyListAndNothingIsMade) {
  const auto listing = FlatpakInstallations::platformDefault()->installed();
  EXPECT_TRUE(listing.refs.empty());
  EXPECT_TRUE(listing.failures.empty());
  EXPECT_EQ(fileObjectTypeNotFollowingLink(tree.path("root/var/lib/flatpak")), FileObjectType::unknown);
  EXPECT_EQ(fileObjectTypeNotFollowingLink(tree.path("home/.local/share/flatpak")), FileObjectType::unknown);
}

TEST_F(FlatpakInstallationsTest, EmptyInstallationsListNothing) {
  tree.directory("root/var/lib/flatpak");
  tree.directory("home/.local/share/flatpak");
  const auto listing = FlatpakInstallations::platformDefault()->installed();
  EXPECT_TRUE(listing.refs.empty());
  for (const auto& failure : listing.failures) ADD_FAILURE() << failure;
  // Reading makes no repository.
  EXPECT_EQ(fileObjectTypeNotFollowingLink(tree.path("root/var/lib/flatpak/repo")), FileObjectType::unknown);
  EXPECT_EQ(fileObjectTypeNotFollowingLink(tree.path("home/.local/share/flatpak/repo")), FileObjectType::unknown);
}

TEST_F(FlatpakInstallationsTest, TheSharedInstanceCanBeReplaced) {
  auto fake = std::make_shared<vantel::testing::FakeFlatpakInstallations>();
  fake->listing.refs.push_back(vantel::testing::FakeFlatpakInstallations::application(
      "org.example.Paint", "2.1", "org.freedesktop.Platform/x86_64/23.08"));
  FlatpakInstallations::setShared(fake);
  const auto listing = FlatpakInstallations::shared()->installed();
  ASSERT_EQ(listing.refs.size(), 1u);
  EXPECT_EQ(listing.refs[0].ref(), "app/org.example.Paint/x86_64/stable");
  FlatpakInstallations::setShared(nullptr);
  EXPECT_NE(FlatpakInstallations::shared(), fake);
}

}  // namespace
}  // namespace vantelkit::platform
