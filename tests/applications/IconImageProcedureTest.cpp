#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "support/BundleBuilder.h"
#include "support/IcnsBuilder.h"
#include "vantelkit/applications/IconTheme.h"
#include "vantelkit/applications/ImageProcedure.h"
#include "vantelkit/foundation/ProcedureQueue.h"

namespace vantelkit {
namespace {

namespace fs = std::filesystem;

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

TEST_F(IconImageProcedureTest, ACancelledProcedureMakesNoIcon) {
  auto procedure = run(folder / "Editor.app", /*cancelFirst=*/true);
  EXPECT_TRUE(procedure->isCancelled());
  EXPECT_FALSE(procedure->successValue());
}

}  // namespace
}  // namespace vantelkit
