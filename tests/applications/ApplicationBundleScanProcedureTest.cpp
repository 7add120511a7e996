#include "vantelkit/applications/ApplicationBundleScanProcedure.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/BundleBuilder.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

using fixtures::writeApplication;
using testing::applicationInfo;
using testing::PlistFormat;
using testing::writeBundle;

class ApplicationBundleScanProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::Paths::setRootOverride(tree.path("root")); }
  void TearDown() override { platform::Paths::setRootOverride(std::nullopt); }

  std::vector<std::shared_ptr<ApplicationBundle>> scan() {
    auto procedure = ApplicationBundleScanProcedure::make();
    ProcedureQueue queue;
    queue.addOperation(procedure);
    EXPECT_TRUE(procedure->waitUntilFinished(20));
    auto bundles = procedure->successValue();
    EXPECT_TRUE(bundles.has_value());
    auto list = bundles.value_or(std::vector<std::shared_ptr<ApplicationBundle>>{});
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a->url().path() < b->url().path(); });
    return list;
  }

  vantel::testing::ScanFixtureTree tree;
};

TEST_F(ApplicationBundleScanProcedureTest, ReadsEveryApplicationOfTheApplicationsFolderAndSkipsTheRest) {
  writeApplication(tree.path("root/Applications/Editor.app"), applicationInfo("org.example.Editor", "Editor", "3.2.1"),
                   PlistFormat::xml, "Editor");
  writeApplication(tree.path("root/Applications/Utilities/Viewer.app"), applicationInfo("com.example.Viewer", "Viewer"),
                   PlistFormat::binary);
  // No information dictionary; no identifier; the inside of a bundle; not an application.
  tree.file("root/Applications/Empty.app/Contents/README", 10);
  writeBundle(tree.path("root/Applications/NoIdentifier.app"), Value(Value::Dictionary{{"CFBundleName", Value("X")}}));
  writeApplication(tree.path("root/Applications/Editor.app/Contents/Helpers/Helper.app"),
                   applicationInfo("org.example.Editor.Helper", "Helper"), PlistFormat::xml);
  tree.file("root/Applications/readme.txt", 10);
  // Outside the applications folder of the root in use.
  writeApplication(tree.path("elsewhere/Other.app"), applicationInfo("org.example.Other", "Other"), PlistFormat::xml);

  auto bundles = scan();
  ASSERT_EQ(bundles.size(), 2u);
  EXPECT_EQ(bundles[0]->identifier(), "org.example.Editor");
  EXPECT_EQ(bundles[0]->name(), "Editor");
  EXPECT_EQ(bundles[0]->bundleInfo.version.major, 3u);
  EXPECT_EQ(bundles[0]->url().path(), tree.path("root/Applications/Editor.app"));
  // The icon at 128 points is the one representation of that width from the icon file.
  ASSERT_TRUE(bundles[0]->icon);
  ASSERT_EQ(bundles[0]->icon->representations.size(), 1u);
  EXPECT_EQ(bundles[0]->icon->representations.front().pixelsWide, 128);
  EXPECT_EQ(bundles[1]->identifier(), "com.example.Viewer");
  ASSERT_TRUE(bundles[1]->icon);
  EXPECT_FALSE(bundles[1]->icon->isEmpty());
}

TEST_F(ApplicationBundleScanProcedureTest, MissingApplicationsFolderGivesAnEmptyList) {
  EXPECT_TRUE(scan().empty());
}

TEST_F(ApplicationBundleScanProcedureTest, CancelledBeforeItRanLeavesTheOutputPending) {
  auto procedure = ApplicationBundleScanProcedure::make();
  procedure->cancel();
  ProcedureQueue queue;
  queue.addOperation(procedure);
  ASSERT_TRUE(procedure->waitUntilFinished(20));
  EXPECT_TRUE(procedure->output().isPending());
}

}  // namespace
}  // namespace vantelkit
