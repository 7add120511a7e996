#include "vantelkit/applications/ApplicationScanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <variant>

#include "fixtures/ApplicationInventory.h"
#include "fixtures/DemoHome.h"
#include "support/ApplicationLayout.h"
#include "support/ScanFixtureTree.h"
#include "support/CapturingLogger.h"
#include "support/FaultInjectingDirectoryReader.h"
#include "vantelkit/foundation/Procedure.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

using testing::ApplicationLayout;
using Category = ApplicationResourceGroup::Category;

// Records what the scanner tells it, on the main queue.
class Recorder : public ApplicationScannerListener {
 public:
  void scanDidStart() override { events.push_back("start"); }
  void scanDidFinish() override {
    events.push_back("finish");
    finished = true;
  }
  void progressUpdate(double progress, const std::string& message) override {
    progresses.push_back(progress);
    messages.push_back(message);
  }
  std::vector<std::string> events;
  std::vector<double> progresses;
  std::vector<std::string> messages;
  bool finished = false;
};

class ApplicationScannerTest : public ::testing::Test {
 protected:
  // Runs one scan to its end (bounded) and answers the inventory by identifier.
  std::map<std::string, std::shared_ptr<ApplicationItem>> scan() {
    scanner->addListener(recorder);
    scanner->start();
    EXPECT_TRUE(MainQueue::runUntil([this] { return recorder->finished; }, 60));
    EXPECT_FALSE(scanner->isRunning());
    std::map<std::string, std::shared_ptr<ApplicationItem>> byIdentifier;
    for (const auto& item : scanner->applications()) byIdentifier[item->identifier()] = item;
    return byIdentifier;
  }

  static std::vector<std::string> names(const ApplicationItem& item, Category category) {
    std::vector<std::string> result;
    for (const auto& group : item.resources) {
      if (group->category != category) continue;
      for (const auto& resource : group->files) result.push_back(resource->name);
    }
    return result;
  }
  static std::int64_t infoSize(const std::string& bundle) {
    return static_cast<std::int64_t>(std::filesystem::file_size(bundle + "/Contents/Info.plist"));
  }
  static const ApplicationResourceGroup::Resource* resource(const ApplicationItem& item, const std::string& name) {
    for (const auto& group : item.allResources()) {
      for (const auto& file : group->files) {
        if (file->name == name) return file.get();
      }
    }
    return nullptr;
  }

  ApplicationLayout layout;
  std::shared_ptr<ApplicationScanner> scanner = ApplicationScanner::make();
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

TEST_F(ApplicationScannerTest, BuildsTheInventoryWithMergedCopiesNestedApplicationsAndSizedResources) {
  const auto editor = layout.application(layout.system("Applications/Editor Pro.app"), "org.example.EditorPro",
                                         "Editor Pro", 1000);
  layout.application(editor + "/Contents/Library/LoginItems/Sync Agent.app", "net.example.SyncAgent", "Sync Agent", 50);
  const auto copy = layout.application(layout.home("Downloads/Editor Pro.app"), "org.example.EditorPro", "Editor Pro",
                                       700);
  layout.application(layout.home("Desktop/Sketch Pad.app"), "com.example.sketch", "Sketch Pad", 300);

  // Matched by identifier, by a case-different name, through the nested application, and
  // a folder whose matched contents are not listed again.
  layout.file(layout.home("Library/Preferences/ORG.EXAMPLE.EDITORPRO.plist"), 11);
  layout.file(layout.system("Library/Preferences/org.example.EditorPro/org.example.EditorPro.shared.plist"), 13);
  layout.file(layout.home("Library/Application Support/editor pro/org.example.EditorPro.db"), 400);
  layout.file(layout.home("Library/Application Support/editor pro/data.bin"), 600);
  layout.file(layout.home("Library/Caches/net.example.SyncAgent/cache"), 2000);
  layout.file(layout.system("Library/LaunchAgents/net.example.SyncAgent.plist"), 17);
  layout.file(layout.home("Library/Group Containers/ABC123.org.example.EditorPro/group.db"), 19);
  // Not matched: blacklisted words, a name that only contains the application's name.
  layout.file(layout.home("Library/Application Support/CrashReporter/org.example.EditorPro_crashreporter.plist"), 5);
  layout.file(layout.home("Library/Preferences/com.apple.org.example.EditorPro.plist"), 5);
  layout.file(layout.home("Library/Application Support/Editor Pro Backups/old"), 5);
  layout.file(layout.home("Library/Caches/com.example.sketch"), 23);

  auto inventory = scan();
  ASSERT_EQ(inventory.size(), 2u);
  const auto& item = *inventory.at("org.example.EditorPro");
  ASSERT_EQ(item.binaries->files.size(), 2u);
  EXPECT_EQ(item.binaries->files[0]->url.path(), editor);
  EXPECT_EQ(item.binaries->files[1]->url.path(), copy);
  // Both copies measured: the first by its bundle scan, the second by the sizing stage.
  EXPECT_EQ(item.binaries->files[0]->size,
            1000 + 50 + infoSize(editor) + infoSize(editor + "/Contents/Library/LoginItems/Sync Agent.app"));
  EXPECT_EQ(item.binaries->files[1]->size, 700 + infoSize(copy));
  ASSERT_EQ(item.childApplications.size(), 1u);
  EXPECT_EQ(item.childApplications[0].identifier, "net.example.SyncAgent");

  ASSERT_EQ(item.resources.size(), 11u);
  EXPECT_EQ(names(item, Category::preferences),
            (std::vector<std::string>{"ORG.EXAMPLE.EDITORPRO.plist", "org.example.EditorPro"}));
  EXPECT_EQ(names(item, Category::supportFiles), (std::vector<std::string>{"editor pro"}));
  EXPECT_EQ(names(item, Category::caches), (std::vector<std::string>{"net.example.SyncAgent"}));
  EXPECT_EQ(names(item, Category::loginItems), (std::vector<std::string>{"net.example.SyncAgent.plist"}));
  EXPECT_EQ(names(item, Category::groupContainers), (std::vector<std::string>{"ABC123.org.example.EditorPro"}));
  EXPECT_TRUE(names(item, Category::logs).empty());
  // Folders are measured; files keep their scanned size.
  EXPECT_EQ(resource(item, "editor pro")->size, 1000);
  EXPECT_EQ(resource(item, "org.example.EditorPro")->size, 13);
  EXPECT_EQ(resource(item, "net.example.SyncAgent")->size, 2000);
  EXPECT_EQ(resource(item, "ORG.EXAMPLE.EDITORPRO.plist")->size, 11);
  EXPECT_EQ(item.totalSize(), item.binaries->totalSize() + 11 + 13 + 1000 + 2000 + 17 + 19);

  const auto& sketch = *inventory.at("com.example.sketch");
  EXPECT_EQ(names(sketch, Category::caches), (std::vector<std::string>{"com.example.sketch"}));
  EXPECT_GT(sketch.binaries->files[0]->size, 300);
}

TEST_F(ApplicationScannerTest, ReportsTheStagesInOrder) {
  layout.application(layout.system("Applications/Editor.app"), "org.example.Editor", "Editor");
  scan();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(recorder->progresses, (std::vector<double>{0.05, 0.15, 0.25, 0.35, 0.55, 0.85}));
  const std::vector<Category> categories{Category::binaries,   Category::supportFiles, Category::logs,
                                         Category::containers, Category::supportFiles, Category::supportFiles};
  ASSERT_EQ(recorder->messages.size(), categories.size());
  for (std::size_t i = 0; i < categories.size(); ++i) {
    const std::string ending = " " + ApplicationResourceGroup::localizedName(categories[i]) + "...";
    EXPECT_TRUE(recorder->messages[i].ends_with(ending)) << recorder->messages[i];
    EXPECT_GT(recorder->messages[i].size(), ending.size());
  }
}

TEST_F(ApplicationScannerTest, WithNoApplicationsTheScanStillReportsEverything) {
  auto inventory = scan();
  EXPECT_TRUE(inventory.empty());
  EXPECT_EQ(recorder->progresses.size(), 6u);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
}

TEST_F(ApplicationScannerTest, ASecondStartWhileRunningOnlyWarns) {
  testing::ScopedLogLevel level(LogLevel::warning);
  testing::CapturingLogger::shared().clear();
  scanner->addListener(recorder);
  scanner->start();
  scanner->start();
  EXPECT_EQ(testing::CapturingLogger::shared().linesContaining("Application Scanner is already running").size(), 1u);
  ASSERT_TRUE(MainQueue::runUntil([this] { return recorder->finished; }, 60));
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
  // A finished scanner starts again.
  recorder->finished = false;
  scanner->start();
  ASSERT_TRUE(MainQueue::runUntil([this] { return recorder->finished; }, 60));
}

TEST_F(ApplicationScannerTest, ListenersAreKeptOnceAndSurviveCleanup) {
  layout.application(layout.system("Applications/Editor.app"), "org.example.Editor", "Editor");
  auto stranger = std::make_shared<Recorder>();
  scanner->removeListener(stranger);
  scanner->addListener(recorder);
  scan();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
  scanner->cleanup();
  EXPECT_TRUE(scanner->applications().empty());
  recorder->finished = false;
  scan();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish", "start", "finish"}));
  EXPECT_TRUE(stranger->events.empty());
}

TEST_F(ApplicationScannerTest, AFailedProducerLeavesItsDataAloneAndTheScanEnds) {
  layout.application(layout.system("Applications/Editor.app"), "org.example.Editor", "Editor");
  layout.file(layout.home("Library/Caches/org.example.Editor"), 10);
  scanner->setWillAddProcedureHandler([](Procedure& procedure) {
    if (procedure.name() == "support files scan") procedure.cancel();
  });
  auto inventory = scan();
  ASSERT_EQ(inventory.size(), 1u);
  const auto& item = *inventory.begin()->second;
  ASSERT_EQ(item.resources.size(), 11u);
  for (const auto& group : item.resources) EXPECT_TRUE(group->files.empty());
  EXPECT_GT(item.binaries->files[0]->size, 0);
}

TEST_F(ApplicationScannerTest, FoldersThatCannotBeReadAreReportedOnce) {
  const auto editor = layout.application(layout.system("Applications/Editor.app"), "org.example.Editor", "Editor");
  layout.file(editor + "/Contents/Resources/locked/data", 5000);
  layout.file(layout.home("Library/Caches/org.example.Editor/blob"), 10);
  layout.file(layout.home("Library/Containers/other"), 10);
  auto reader = std::make_shared<vantel::testing::FaultInjectingDirectoryReader>();
  reader->failOpen(editor + "/Contents/Resources/locked");             // inside the bundle, measured
  reader->failOpen(layout.home("Library/Caches/org.example.Editor"));  // a matched folder, measured
  reader->failOpen(layout.home("Library/Containers"));                 // a support-file folder
  platform::DirectoryReader::setShared(reader);
  auto inventory = scan();
  platform::DirectoryReader::setShared(nullptr);

  std::vector<std::string> paths;
  for (const auto& entry : scanner->unreadable()) paths.push_back(entry.path);
  std::vector<std::string> expected{editor + "/Contents/Resources/locked", layout.home("Library/Caches/org.example.Editor"),
                                    layout.home("Library/Containers")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(paths, expected);
  EXPECT_EQ(platform::errorCodeFromNumber(scanner->unreadable()[0].error), std::errc::permission_denied);
  ASSERT_EQ(inventory.size(), 1u);
  const auto* cache = resource(*inventory.begin()->second, "org.example.Editor");
  ASSERT_NE(cache, nullptr);
  EXPECT_EQ(cache->size, 0);
  EXPECT_LT(inventory.begin()->second->binaries->files[0]->size, 5000);
}

TEST_F(ApplicationScannerTest, ACancelledBundleStageStillEndsTheScan) {
  layout.application(layout.system("Applications/Editor.app"), "org.example.Editor", "Editor");
  scanner->setWillAddProcedureHandler([](Procedure& procedure) {
    if (procedure.name() == "bundle stage") procedure.cancel();
  });
  auto inventory = scan();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
  // The later stages did not run.
  ASSERT_EQ(inventory.size(), 1u);
  EXPECT_TRUE(inventory.begin()->second->resources.empty());
  EXPECT_EQ(recorder->progresses, (std::vector<double>{0.05, 0.15, 0.25}));
}

TEST(ApplicationScannerSharedTest, SharedIsOneInstanceUntilReplaced) {
  auto first = ApplicationScanner::shared();
  EXPECT_EQ(ApplicationScanner::shared(), first);
  auto replacement = ApplicationScanner::make();
  ApplicationScanner::setShared(replacement);
  EXPECT_EQ(ApplicationScanner::shared(), replacement);
  ApplicationScanner::setShared(nullptr);
  EXPECT_NE(ApplicationScanner::shared(), nullptr);
}

}  // namespace
}  // namespace vantelkit

namespace vantelkit {
namespace {

// The demo home with the inventory material, end to end.
TEST(ApplicationScannerDemoTest, AttributesTheDemoMaterialAsDescribed) {
  vantel::testing::ScanFixtureTree tree;
  auto written = fixtures::writeDemoHome(tree.path("demo"));
  ASSERT_TRUE(std::holds_alternative<fixtures::DemoHomeLayout>(written)) << std::get<std::string>(written);
  const auto layout = std::get<fixtures::DemoHomeLayout>(written);
  fixtures::writeApplicationInventory(layout);
  platform::Paths::setRootOverride(layout.root);
  platform::Paths::setHomeOverride(layout.home);

  auto scanner = ApplicationScanner::make();
  auto recorder = std::make_shared<Recorder>();
  scanner->addListener(recorder);
  scanner->start();
  const bool finished = MainQueue::runUntil([&] { return recorder->finished; }, 60);
  platform::Paths::setRootOverride(std::nullopt);
  platform::Paths::setHomeOverride(std::nullopt);
  ASSERT_TRUE(finished);

  std::map<std::string, std::shared_ptr<ApplicationItem>> items;
  for (const auto& item : scanner->applications()) items[item->identifier()] = item;
  std::vector<std::string> identifiers;
  for (const auto& [identifier, item] : items) identifiers.push_back(identifier);
  EXPECT_EQ(identifiers, (std::vector<std::string>{"app.pockettimer.mac", "com.nimbuscloud.Nimbus",
                                                   "net.lumen.notes", "org.photon.editor"}));
  auto names = [](const ApplicationItem& item, Category category) {
    std::vector<std::string> result;
    for (const auto& group : item.resources) {
      if (group->category != category) continue;
      for (const auto& resource : group->files) result.push_back(resource->name);
    }
    return result;
  };
  const auto& photon = *items.at("org.photon.editor");
  EXPECT_EQ(names(photon, Category::preferences),
            (std::vector<std::string>{"ORG.PHOTON.EDITOR.LSSharedFileList.plist", "org.photon.editor.plist"}));
  EXPECT_EQ(names(photon, Category::supportFiles),
            (std::vector<std::string>{"Photon Editor", "org.photon.editor.binarycookies"}));
  EXPECT_EQ(names(photon, Category::logs), (std::vector<std::string>{"org.photon.editor_2026-11-30.crash"}));
  EXPECT_EQ(names(photon, Category::helperTools), (std::vector<std::string>{"org.photon.editor.helper"}));
  EXPECT_EQ(names(photon, Category::plugins), (std::vector<std::string>{"org.photon.editor.webplugin.plugin"}));
  EXPECT_EQ(names(photon, Category::other), (std::vector<std::string>{"Photon Editor"}));
  const auto& nimbus = *items.at("com.nimbuscloud.Nimbus");
  ASSERT_EQ(nimbus.childApplications.size(), 1u);
  EXPECT_EQ(nimbus.childApplications[0].identifier, "com.nimbuscloud.sync");
  EXPECT_EQ(names(nimbus, Category::loginItems), (std::vector<std::string>{"com.nimbuscloud.sync.plist"}));
  EXPECT_EQ(names(nimbus, Category::supportFiles), (std::vector<std::string>{"com.nimbuscloud.sync", "nimbus"}));
  const auto& notes = *items.at("net.lumen.notes");
  EXPECT_EQ(notes.binaries->files.size(), 2u);
  EXPECT_EQ(names(notes, Category::containers), (std::vector<std::string>{"net.lumen.notes"}));
  EXPECT_EQ(names(notes, Category::groupContainers), (std::vector<std::string>{"7QX3P2K9LM.net.lumen.notes"}));
  EXPECT_EQ(names(notes, Category::scripts), (std::vector<std::string>{"net.lumen.notes"}));
  for (const auto& binary : notes.binaries->files) EXPECT_GT(binary->size, 0);
}

}  // namespace
}  // namespace vantelkit
