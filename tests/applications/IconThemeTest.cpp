#include "vantelkit/applications/IconTheme.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "support/BundleBuilder.h"
#include "support/IcnsBuilder.h"

namespace vantelkit {
namespace {

namespace fs = std::filesystem;

TEST(IconThemeIndexTest, ReadsTheHeaderAndTheListedFolders) {
  auto index = parseIconThemeIndex(
      "# comment\n"
      "[Icon Theme]\nName=Sample\nName[de]=Beispiel\nInherits=parent, hicolor\n"
      "Directories=16x16/apps,scalable/apps,missing/apps,nosize/apps\nScaledDirectories=16x16@2/apps\n\n"
      "[16x16/apps]\nSize=16\nType=Fixed\n"
      "[16x16@2/apps]\nSize=16\nScale=2\nType=Fixed\n"
      "[scalable/apps]\r\nSize=48\r\nMinSize=8\r\nMaxSize=512\r\nType=Scalable\r\n"
      "[nosize/apps]\nType=Fixed\n");
  ASSERT_TRUE(index);
  EXPECT_EQ(index->name, "Sample");
  EXPECT_EQ(index->inherits, (std::vector<std::string>{"parent", "hicolor"}));
  ASSERT_EQ(index->directories.size(), 3u);
  EXPECT_EQ(index->directories[0],
            (IconThemeDirectory{"16x16/apps", 16, 1, 16, 16, 2, IconThemeDirectory::Type::fixed}));
  EXPECT_EQ(index->directories[1],
            (IconThemeDirectory{"scalable/apps", 48, 1, 8, 512, 2, IconThemeDirectory::Type::scalable}));
  EXPECT_EQ(index->directories[2].scale, 2);
  EXPECT_FALSE(parseIconThemeIndex("[Other]\nName=x\n"));
}

class IconThemeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base = fs::temp_directory_path() / ("vantel-icon-theme-" + std::to_string(std::random_device()()));
    fs::remove_all(base);
    testing::writeFile((base / "main/index.theme").string(),
                       "[Icon Theme]\nName=Main\nInherits=parent,main\n"
                       "Directories=16x16/apps,48x48/apps,scalable/apps\n"
                       "[16x16/apps]\nSize=16\nType=Fixed\n"
                       "[48x48/apps]\nSize=48\nType=Threshold\n"
                       "[scalable/apps]\nSize=64\nMinSize=64\nMaxSize=256\nType=Scalable\n");
    testing::writeFile((base / "parent/index.theme").string(),
                       "[Icon Theme]\nName=Parent\nInherits=main\nDirectories=32x32/apps\n[32x32/apps]\nSize=32\n");
    testing::writeFile((base / "hicolor/index.theme").string(),
                       "[Icon Theme]\nName=Hicolor\nDirectories=128x128/apps\n[128x128/apps]\nSize=128\nType=Fixed\n");
    png("main/16x16/apps/editor.png", 16);
    png("main/48x48/apps/editor.png", 48);
    svg("main/scalable/apps/editor.svg");
    png("parent/32x32/apps/viewer.png", 32);
    png("hicolor/128x128/apps/player.png", 128);
    png("pixmaps/legacy.png", 20);
  }
  void TearDown() override { fs::remove_all(base); }

  void png(const std::string& relative, int width) {
    testing::writeFile((base / relative).string(), testing::pngPayload(width, width));
  }
  void svg(const std::string& relative) {
    testing::writeFile((base / relative).string(), "<svg xmlns='http://www.w3.org/2000/svg' width='64' height='64'/>");
  }
  fs::path base;
};

TEST_F(IconThemeTest, FollowsTheLookupOrderOfTheThemeSpecification) {
  IconTheme theme("main", std::vector<std::string>{(base / "none").string(), base.string()},
                  std::vector<std::string>{(base / "pixmaps").string()});
  const auto relative = [&](std::string_view name, int size) -> std::optional<std::string> {
    auto found = theme.lookupIcon(name, size);
    if (!found) return std::nullopt;
    return fs::relative(*found, base).string();
  };
  // Exact matches: fixed, within the threshold, within the scalable range.
  EXPECT_EQ(relative("editor", 16), "main/16x16/apps/editor.png");
  EXPECT_EQ(relative("editor", 50), "main/48x48/apps/editor.png");
  EXPECT_EQ(relative("editor", 200), "main/scalable/apps/editor.svg");
  // No match: the closest folder.
  EXPECT_EQ(relative("editor", 20), "main/16x16/apps/editor.png");
  EXPECT_EQ(relative("editor", 512), "main/scalable/apps/editor.svg");
  // The inherited theme (whose cycle back to main ends), then hicolor, then the pixmaps.
  EXPECT_EQ(relative("viewer", 16), "parent/32x32/apps/viewer.png");
  EXPECT_EQ(relative("player", 16), "hicolor/128x128/apps/player.png");
  EXPECT_EQ(relative("legacy", 16), "pixmaps/legacy.png");
  EXPECT_FALSE(relative("missing", 16));
  EXPECT_FALSE(relative("../main/16x16/apps/editor", 16));
}

TEST_F(IconThemeTest, AddsTheThemeFilesAsRepresentations) {
  IconTheme theme("main", std::vector<std::string>{base.string()}, std::vector<std::string>{});
  platform::Image icon;
  icon.iconName = "editor";
  auto withPixels = theme.iconWithPixels(icon, {512, 48, 16, 17});
  ASSERT_EQ(withPixels.representations.size(), 3u);
  EXPECT_EQ(withPixels.representations[0].format, "svg");
  EXPECT_EQ(withPixels.representations[0].pixelsWide, 512);
  EXPECT_EQ(withPixels.representations[1].format, "png");
  EXPECT_EQ(withPixels.representations[1].pixelsWide, 48);
  EXPECT_EQ(withPixels.representations[2].pixelsWide, 16);
  EXPECT_EQ(withPixels.iconName, "editor");

  // Fallbacks: the media type's generic icon, then the name cut at its last "-".
  testing::writeFile((base / "main/48x48/apps/text-x-generic.png").string(), testing::pngPayload(48, 48));
  icon.iconName = "text-plain";
  auto generic = theme.iconWithPixels(icon, {48});
  ASSERT_EQ(generic.representations.size(), 1u);
  EXPECT_EQ(generic.iconName, "text-plain");
  icon.iconName = "editor-dark-mode";
  EXPECT_EQ(theme.iconWithPixels(icon, {48}).representations.size(), 1u);

  platform::Image unnamed;
  EXPECT_EQ(theme.iconWithPixels(unnamed), unnamed);
  icon.iconName = "missing";
  EXPECT_EQ(theme.iconWithPixels(icon), icon);
}

TEST(IconThemeInstalledTest, TheGenericApplicationIconHasPixels) {
  IconTheme theme;
  if (!theme.lookupIcon("application-x-executable", 48)) GTEST_SKIP() << "no icon theme installed";
  platform::Image icon;
  icon.iconName = "application-x-executable";
  auto withPixels = theme.iconWithPixels(icon);
  ASSERT_FALSE(withPixels.representations.empty());
  EXPECT_TRUE(withPixels.representations.front().format == "png" || withPixels.representations.front().format == "svg");
}

}  // namespace
}  // namespace vantelkit
