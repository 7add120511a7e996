#include "vantelkit/applications/ApplicationScanProcedure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/ApplicationLayout.h"
#include "vantelkit/applications/BundleScanProcedure.h"
#include "vantelkit/applications/OtherApplicationsScanProcedure.h"
#include "vantelkit/foundation/ProcedureQueue.h"

namespace vantelkit {
namespace {

using testing::ApplicationLayout;

template <class P>
auto run(const std::shared_ptr<P>& procedure) {
  ProcedureQueue queue;
  queue.addOperation(procedure);
  EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  EXPECT_FALSE(procedure->failed());
  auto value = procedure->successValue();
  EXPECT_TRUE(value);
  return value ? *value : typename P::OutputType{};
}

// "identifier at path" for each item, sorted.
std::vector<std::string> listing(const ApplicationItemSet& items, const ApplicationLayout& layout) {
  std::vector<std::string> result;
  for (const auto& item : items) {
    std::string path = item->url().path();
    for (const std::string& base : {layout.system(""), layout.home("")}) {
      if (path.starts_with(base)) path = path.substr(base.size());
    }
    result.push_back(item->identifier() + " at " + path);
  }
  std::sort(result.begin(), result.end());
  return result;
}

TEST(ApplicationScanProcedureTest, FindsTheDefaultLocationsOncePerIdentifierWithoutProtectedApps) {
  ApplicationLayout layout;
  layout.application(layout.system("Applications/Editor.app"), "org.example.Editor", "Editor");
  layout.application(layout.system("Developer/Applications/Editor Copy.app"), "org.example.Editor", "Editor");
  layout.application(layout.system("Developer/Applications/Profiler.app"), "org.example.Profiler", "Profiler");
  layout.application(layout.system("Applications/Tools/Deep/Viewer.app"), "org.example.Viewer", "Viewer");
  layout.application(layout.system("Applications/Safari.app"), "org.example.Browser", "Browser");
  // Nested applications are not found: bundles are not entered.
  layout.application(layout.system("Applications/Editor.app/Contents/Library/Helper.app"), "org.example.Helper",
                     "Helper");
  layout.directory(layout.system("Applications/Broken.app/Contents"));

  auto result = run(ApplicationScanProcedure::make());
  EXPECT_EQ(listing(result.applications, layout),
            (std::vector<std::string>{"org.example.Editor at Applications/Editor.app",
                                      "org.example.Profiler at Developer/Applications/Profiler.app",
                                      "org.example.Viewer at Applications/Tools/Deep/Viewer.app"}));
  EXPECT_TRUE(result.userData.empty());
  for (const auto& item : result.applications) {
    ASSERT_EQ(item->binaries->files.size(), 1u);
    EXPECT_EQ(item->binaries->files[0]->url, item->url());
  }
}

TEST(ApplicationScanProcedureTest, WithNoApplicationFoldersTheSetIsEmpty) {
  ApplicationLayout layout;
  auto result = run(ApplicationScanProcedure::make());
  EXPECT_TRUE(result.applications.empty());
}

TEST(OtherApplicationsScanProcedureTest, FindsTheUserFoldersToDepthFiveIncludingProtectedNames) {
  ApplicationLayout layout;
  layout.application(layout.home("Downloads/Safari.app"), "org.example.Browser", "Browser");
  layout.application(layout.home("Desktop/Editor.app"), "org.example.Editor", "Editor");
  layout.application(layout.home("Documents/Editor Again.app"), "org.example.Editor", "Editor");
  layout.application(layout.home("Applications/Sub/Game.app"), "org.example.Game", "Game");
  // Downloads is the first level listed, Downloads/2/3/4/5 the fifth and last.
  layout.application(layout.home("Downloads/2/3/4/5/Shallow.app"), "org.example.Shallow", "Shallow");
  layout.application(layout.home("Downloads/2/3/4/5/6/Deep.app"), "org.example.Deep", "Deep");
  layout.application(layout.system("Applications/Elsewhere.app"), "org.example.Elsewhere", "Elsewhere");

  auto procedure = OtherApplicationsScanProcedure::make();
  ASSERT_EQ(procedure->userAppLocations().size(), 4u);
  EXPECT_EQ(procedure->userAppLocations()[0].path(), layout.home("Downloads"));
  auto result = run(procedure);
  // Desktop comes before Documents, so the Desktop copy is the one kept.
  EXPECT_EQ(listing(result.applications, layout),
            (std::vector<std::string>{"org.example.Browser at Downloads/Safari.app",
                                      "org.example.Editor at Desktop/Editor.app",
                                      "org.example.Game at Applications/Sub/Game.app",
                                      "org.example.Shallow at Downloads/2/3/4/5/Shallow.app"}));
}

TEST(BundleScanProcedureTest, MeasuresTheBundleAndListsTheApplicationsNestedInIt) {
  ApplicationLayout layout;
  auto outer = layout.application(layout.system("Applications/Suite.app"), "org.example.Suite", "Suite", 1000);
  layout.application(outer + "/Contents/Library/LoginItems/Suite Helper.app", "org.example.Suite.Helper",
                     "Suite Helper", 200);
  layout.application(outer + "/Contents/Frameworks/Agent.app", "org.example.Suite.Agent", "Agent", 30);
  layout.directory(outer + "/Contents/Resources/NotAnApp.app");
  layout.file(outer + "/Contents/Resources/data.bin", 5);

  auto result = run(BundleScanProcedure::make(FileURL::fileURLWithPath(outer, true)));
  std::vector<std::string> identifiers;
  for (const auto& info : result.childApplications) identifiers.push_back(info.identifier);
  // By path: "Frameworks" before "Library".
  EXPECT_EQ(identifiers, (std::vector<std::string>{"org.example.Suite.Agent", "org.example.Suite.Helper"}));
  const auto infoSizes = std::filesystem::file_size(outer + "/Contents/Info.plist") +
                         std::filesystem::file_size(outer + "/Contents/Library/LoginItems/Suite Helper.app/Contents/Info.plist") +
                         std::filesystem::file_size(outer + "/Contents/Frameworks/Agent.app/Contents/Info.plist");
  EXPECT_EQ(result.size, static_cast<std::int64_t>(1000 + 200 + 30 + 5 + infoSizes));
}

TEST(BundleScanProcedureTest, ABundleWithoutNestedApplicationsOrAMissingOne) {
  ApplicationLayout layout;
  auto plain = layout.application(layout.system("Applications/Plain.app"), "org.example.Plain", "Plain", 64);
  auto result = run(BundleScanProcedure::make(FileURL::fileURLWithPath(plain, true)));
  EXPECT_TRUE(result.childApplications.empty());
  EXPECT_GT(result.size, 64);

  auto missing = run(BundleScanProcedure::make(FileURL::fileURLWithPath(layout.system("Applications/Gone.app"), true)));
  EXPECT_EQ(missing, BundleScanResult{});
}

}  // namespace
}  // namespace vantelkit
