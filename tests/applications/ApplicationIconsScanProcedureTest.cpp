#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "support/BundleBuilder.h"
#include "support/IcnsBuilder.h"
#include "vantelkit/applications/ImageProcedure.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

namespace fs = std::filesystem;

class ApplicationIconsScanProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("vantel-icon-wall-" + std::to_string(std::random_device()()));
    fs::remove_all(root);
    platform::Paths::setRootOverride(root.string());
  }
  void TearDown() override {
    platform::Paths::setRootOverride(std::nullopt);
    fs::remove_all(root);
  }

  // count applications in folder; with an icon, each has a 512-pixel PNG in its icon file.
  void makeApplications(const std::string& folder, int count, bool withIcon) {
    for (int i = 0; i < count; ++i) {
      const std::string name = "App" + std::to_string(i);
      auto info = testing::applicationInfo("org.example." + name, name);
      if (withIcon) info["CFBundleIconFile"] = Value("AppIcon");
      const std::string path = (root / folder.substr(1) / (name + ".app")).string();
      testing::writeBundle(path, Value(info));
      if (withIcon) {
        testing::writeFile(path + "/Contents/Resources/AppIcon.icns",
                           testing::icnsFile({{"ic09", testing::pngPayload(512, 512)}}));
      }
    }
  }

  std::vector<platform::Image> runWall() {
    auto procedure = std::make_shared<ApplicationIconsScanProcedure>();
    ProcedureQueue queue;
    queue.addOperation(procedure);
    EXPECT_TRUE(procedure->waitUntilFinished(30));
    EXPECT_FALSE(procedure->failed());
    return procedure->successValue().value_or(std::vector<platform::Image>{});
  }

  static bool hasOwnIcon(const platform::Image& image) {
    const auto* representation = image.representation(512);
    const std::string payload = testing::pngPayload(512, 512);
    return representation && representation->data == std::vector<std::uint8_t>(payload.begin(), payload.end());
  }

  fs::path root;
};

TEST_F(ApplicationIconsScanProcedureTest, FillsTheWallUpToSeventyFromTheSystemApplications) {
  makeApplications("/Applications", 12, true);
  makeApplications("/System/Applications", 100, false);
  auto icons = runWall();
  ASSERT_EQ(icons.size(), 70u);
  for (std::size_t i = 0; i < icons.size(); ++i) {
    EXPECT_EQ(hasOwnIcon(icons[i]), i < 12) << "icon " << i;
  }
}

TEST_F(ApplicationIconsScanProcedureTest, TakesEveryApplicationWhenThereAreSeventyOrMore) {
  makeApplications("/Applications", 71, true);
  makeApplications("/System/Applications", 5, false);
  auto icons = runWall();
  ASSERT_EQ(icons.size(), 71u);
  for (const auto& icon : icons) EXPECT_TRUE(hasOwnIcon(icon));
}

TEST_F(ApplicationIconsScanProcedureTest, AnEmptyMachineGivesAnEmptyWall) {
  EXPECT_TRUE(runWall().empty());
}

}  // namespace
}  // namespace vantelkit
