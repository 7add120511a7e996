#include "vantelkit/applications/SupportFilesScanProcedure.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/ApplicationLayout.h"
#include "vantelkit/foundation/ProcedureQueue.h"

namespace vantelkit {
namespace {

using testing::ApplicationLayout;

std::vector<std::string> names(const ApplicationSupportFiles::Nodes& nodes) {
  std::vector<std::string> result;
  for (const auto& node : nodes) result.push_back(node->name());
  std::sort(result.begin(), result.end());
  return result;
}

std::shared_ptr<ApplicationSupportFiles> scan() {
  auto procedure = SupportFilesScanProcedure::make();
  ProcedureQueue queue;
  queue.addOperation(procedure);
  EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  EXPECT_FALSE(procedure->failed());
  auto files = procedure->successValue();
  EXPECT_TRUE(files);
  if (!files) return std::make_shared<ApplicationSupportFiles>();
  EXPECT_EQ(*files, procedure->supportFiles());
  return *files;
}

TEST(SupportFilesScanProcedureTest, ListsEachLocationToItsDepth) {
  ApplicationLayout layout;
  layout.file(layout.system("Library/Preferences/org.example.A.plist"));
  layout.file(layout.system("Library/Preferences/Sub/nested.plist"));
  layout.file(layout.system("Library/Preferences/Sub/Deeper/too-deep.plist"));
  layout.file(layout.system("Library/Application Support/Editor/inside-not-listed"));
  layout.file(layout.home("Library/Caches/org.example.A/cache.db"));
  layout.file(layout.home("Library/Preferences/org.example.A.plist"));
  layout.directory(layout.home("Library/Containers/org.example.A"));
  layout.file(layout.home("Library/Application Support/CrashReporter/A_crash.plist"));
  layout.application(layout.system("Applications/Editor.app"), "org.example.A", "Editor");
  layout.file(layout.system("Applications/Utilities/Tool"));
  layout.directory(layout.system("Library/PrivilegedHelperTools"));

  auto files = scan();
  EXPECT_EQ(names(files->libraryPreferences), (std::vector<std::string>{"Deeper", "Sub", "nested.plist", "org.example.A.plist"}));
  EXPECT_EQ(names(files->libraryApplicationSupport), (std::vector<std::string>{"Editor"}));
  EXPECT_EQ(names(files->userLibraryCaches), (std::vector<std::string>{"org.example.A"}));
  EXPECT_EQ(names(files->userLibraryPreferences), (std::vector<std::string>{"org.example.A.plist"}));
  EXPECT_EQ(names(files->userLibraryContainers), (std::vector<std::string>{"org.example.A"}));
  EXPECT_EQ(names(files->userLibraryApplicationSupportCrashReporter), (std::vector<std::string>{"A_crash.plist"}));
  EXPECT_EQ(names(files->userLibraryApplicationSupport), (std::vector<std::string>{"CrashReporter"}));
  // The home Library's own entries only.
  EXPECT_EQ(names(files->userLibrary),
            (std::vector<std::string>{"Application Support", "Caches", "Containers", "Preferences"}));
  EXPECT_EQ(names(files->applications), (std::vector<std::string>{"Editor.app", "Utilities"}));
  EXPECT_EQ(names(files->applicationsUtilities), (std::vector<std::string>{"Tool"}));
  EXPECT_TRUE(files->libraryPrivilegedHelperTools.empty());
  EXPECT_TRUE(files->libraryLogs.empty());
  EXPECT_TRUE(files->privateVarFolders.empty());

  // A nested candidate keeps its link to the folder it was found in, for the matching.
  auto nested = std::find_if(files->libraryPreferences.begin(), files->libraryPreferences.end(),
                             [](const auto& node) { return node->name() == "nested.plist"; });
  ASSERT_NE(nested, files->libraryPreferences.end());
  ASSERT_TRUE((*nested)->parent());
  EXPECT_EQ((*nested)->parent()->name(), "Sub");
  EXPECT_EQ((*nested)->size(), 10);
}

TEST(SupportFilesScanProcedureTest, AnEmptyLayoutGivesEmptyListsAndSucceeds) {
  ApplicationLayout layout;
  auto files = scan();
  for (const auto& location : SupportFilesScanProcedure::locations()) {
    EXPECT_TRUE(((*files).*(location.field)).empty()) << location.url.path();
  }
}

TEST(SupportFilesScanProcedureTest, LocationsFollowTheOverrides) {
  ApplicationLayout layout;
  auto locations = SupportFilesScanProcedure::locations();
  ASSERT_EQ(locations.size(), 20u);
  EXPECT_EQ(locations.front().url.path(), layout.system("Library/Preferences"));
  EXPECT_EQ(locations[1].url.path(), layout.home("Library/Preferences"));
  EXPECT_EQ(locations.back().url.path(), layout.system("Applications/Utilities"));
}

TEST(SupportFilesScanProcedureTest, CancelledBeforeItRunsLeavesTheOutputPending) {
  ApplicationLayout layout;
  auto procedure = SupportFilesScanProcedure::make();
  procedure->cancel();
  ProcedureQueue queue;
  queue.addOperation(procedure);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  EXPECT_TRUE(procedure->output().isPending());
}

}  // namespace
}  // namespace vantelkit
