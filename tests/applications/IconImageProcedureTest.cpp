#include <gtest/gtest.h>

#include <fmt/core.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "support/BundleBuilder.h"
#include "support/IcnsBuilder.h"
#include "vantelkit/applications/IconTheme.h"
#include "vantelkit/applications/ImageProcedure.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/platform/ImageCodec.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

namespace fs = std::filesystem;

// A square PNG, all "red" or all "blue".
std::string solidPng(int width, std::string_view colour) {
  const std::uint8_t red = colour == "red" ? 255 : 0;
  const std::uint8_t blue = colour == "blue" ? 255 : 0;
  platform::RgbaPixels pixels{width, width, {}};
  for (int i = 0; i < width * width; ++i) pixels.bytes.insert(pixels.bytes.end(), {red, 0, blue, 255});
  auto png = platform::ImageCodec::shared().encode(pixels, "png");
  return png ? std::string(png->begin(), png->end()) : std::string();
}

using Pictures = std::vector<std::pair<int, std::string>>;

// The icon's pictures by width, each with its colour: "red", "blue", or "other" for one that
// is neither or does not decode at its width.
Pictures picturesOf(const platform::Image& icon) {
  Pictures pictures;
  for (const auto& representation : icon.representations) {
    auto pixels = platform::ImageCodec::shared().decode(
        std::string_view(reinterpret_cast<const char*>(representation.data.data()), representation.data.size()));
    std::string colour = "other";
    if (pixels && pixels->width == representation.pixelsWide && !pixels->bytes.empty()) {
      if (pixels->bytes[0] > 200 && pixels->bytes[2] < 50) colour = "red";
      if (pixels->bytes[0] < 50 && pixels->bytes[2] > 200) colour = "blue";
    }
    pictures.emplace_back(representation.pixelsWide, colour);
  }
  std::sort(pictures.begin(), pictures.end());
  return pictures;
}

class IconImageProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("vantel-icon-image-" + std::to_string(std::random_device()()));
    auto info = testing::applicationInfo("org.example.Editor", "Editor");
    info["CFBundleIconFile"] = Value("Editor");
    testing::writeBundle((folder / "Editor.app").string(), Value(info));
    testing::writeFile((folder / "Editor.app/Contents/Resources/Editor.icns").string(),
                       testing::icnsFile({{"ic07", testing::pngPayload(128, 128)}, {"ic09", testing::pngPayload(512, 512)}}));
  }
  void TearDown() override { fs::remove_all(folder); }

  static std::shared_ptr<IconImageProcedure> run(const fs::path& path, bool cancelFirst = false) {
    auto procedure = std::make_shared<IconImageProcedure>(FileURL::fileURLWithPath(path.string()));
    if (cancelFirst) procedure->cancel();
    ProcedureQueue queue;
    queue.addOperation(procedure);
    EXPECT_TRUE(procedure->waitUntilFinished(20));
    return procedure;
  }

  fs::path folder;
};

TEST_F(IconImageProcedureTest, AnApplicationGetsItsOwnIcon) {
  auto procedure = run(folder / "Editor.app");
  auto icon = procedure->successValue();
  ASSERT_TRUE(icon);
  ASSERT_NE(icon->representation(512), nullptr);
  ASSERT_NE(icon->representation(128), nullptr);
  EXPECT_EQ(icon->representation(128)->format, "png");
}

TEST_F(IconImageProcedureTest, ADocumentGetsItsTypesIconWithTheThemesPixels) {
  testing::writeFile((folder / "notes.txt").string(), "plain words\n");
  auto procedure = run(folder / "notes.txt");
  auto icon = procedure->successValue();
  ASSERT_TRUE(icon);
  ASSERT_TRUE(icon->iconName);
  if (!IconTheme::shared().lookupIcon("text-x-generic", 48)) GTEST_SKIP() << "no icon theme installed";
  ASSERT_FALSE(icon->representations.empty());
  for (const auto& representation : icon->representations) {
    EXPECT_TRUE(representation.format == "png" || representation.format == "svg");
    EXPECT_FALSE(representation.data.empty());
  }
}

TEST_F(IconImageProcedureTest, AnApplicationsPicturesAllComeFromItsOwnIconAndTheGenericOnlyWithoutOne) {
  struct ResetOverrides {
    ~ResetOverrides() {
      platform::Paths::setRootOverride(std::nullopt);
      platform::Paths::setHomeOverride(std::nullopt);
    }
  } resetOverrides;
  const fs::path root = folder / "root";
  platform::Paths::setRootOverride(root.string());
  platform::Paths::setHomeOverride((root / "home").string());
  // The theme's generic application icon is blue, at 512, 32 and 16 pixels.
  const fs::path hicolor = root / "usr/share/icons/hicolor";
  testing::writeFile((hicolor / "index.theme").string(),
                     "[Icon Theme]\nName=Hicolor\nDirectories=16x16/apps,32x32/apps,512x512/apps\n"
                     "[16x16/apps]\nSize=16\nType=Fixed\n[32x32/apps]\nSize=32\nType=Fixed\n"
                     "[512x512/apps]\nSize=512\nType=Fixed\n");
  for (int width : {16, 32, 512}) {
    testing::writeFile((hicolor / fmt::format("{0}x{0}/apps/application-x-executable.png", width)).string(),
                       solidPng(width, "blue"));
  }
  // The application's own icon is red and lacks 64 and 16 pixels.
  auto info = testing::applicationInfo("org.example.Painter", "Painter");
  info["CFBundleIconFile"] = Value("Painter");
  testing::writeBundle((folder / "Painter.app").string(), Value(info));
  testing::writeFile((folder / "Painter.app/Contents/Resources/Painter.icns").string(),
                     testing::icnsFile({{"ic09", solidPng(512, "red")},
                                        {"ic08", solidPng(256, "red")},
                                        {"ic07", solidPng(128, "red")},
                                        {"ic11", solidPng(32, "red")}}));
  testing::writeBundle((folder / "Plain.app").string(), Value(testing::applicationInfo("org.example.Plain", "Plain")));

  auto own = run(folder / "Painter.app")->successValue();
  ASSERT_TRUE(own);
  EXPECT_FALSE(own->iconName);
  EXPECT_EQ(picturesOf(*own),
            (Pictures{{16, "red"}, {32, "red"}, {64, "red"}, {128, "red"}, {256, "red"}, {512, "red"}}));

  auto generic = run(folder / "Plain.app")->successValue();
  ASSERT_TRUE(generic);
  EXPECT_EQ(generic->iconName, "application-x-executable");
  EXPECT_EQ(picturesOf(*generic), (Pictures{{16, "blue"}, {32, "blue"}, {512, "blue"}}));
}

TEST_F(IconImageProcedureTest, ACancelledProcedureMakesNoIcon) {
  auto procedure = run(folder / "Editor.app", /*cancelFirst=*/true);
  EXPECT_TRUE(procedure->isCancelled());
  EXPECT_FALSE(procedure->successValue());
}

}  // namespace
}  // namespace vantelkit
