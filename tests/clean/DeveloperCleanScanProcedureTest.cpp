#include "vantelkit/clean/DeveloperCleanScanProcedure.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <type_traits>

#include "support/ScanFixtureTree.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/foundation/PropertyList.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

using vantel::testing::ScanFixtureTree;

static_assert(!std::is_constructible_v<DeveloperCleanScanProcedure, std::shared_ptr<DispatchQueue>,
                                       std::vector<std::shared_ptr<Operation>>>);

const std::string kXcode = "Library/Developer/Xcode/";
const std::string kDevices = "Library/Developer/CoreSimulator/Devices/";

void writePlist(const std::string& path, Value::Dictionary dictionary) {
  ASSERT_TRUE(PropertyList::save(dictionary, path));
}

Value::Dictionary archiveInfo(std::optional<std::string> shortVersion) {
  Value::Dictionary application{{"CFBundleVersion", Value("42")}};
  if (shortVersion) application["CFBundleShortVersionString"] = Value(*shortVersion);
  return {{"Name", Value("Demo")}, {"ApplicationProperties", Value(application)}};
}

class DeveloperCleanScanProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::Paths::setHomeOverride(home.root()); }
  void TearDown() override { platform::Paths::setHomeOverride(std::nullopt); }

  // Runs a developer scan to its end, draining the main queue; the containers by name.
  std::map<std::string, std::shared_ptr<CleanScanItem>> scan() {
    auto procedure = std::make_shared<DeveloperCleanScanProcedure>();
    ProcedureQueue queue;
    queue.addOperation(procedure);
    EXPECT_TRUE(MainQueue::runUntil([&] { return procedure->isFinished(); }, 30));
    EXPECT_FALSE(procedure->failed());
    EXPECT_TRUE(procedure->deviceSupportItems().empty());
    auto items = procedure->successValue();
    EXPECT_TRUE(items);
    std::map<std::string, std::shared_ptr<CleanScanItem>> byName;
    for (const auto& item : items.value_or(CleanScanItemSet{})) byName[item->name().value_or("?")] = item;
    return byName;
  }

  static std::map<std::string, std::uint64_t> childSizes(const CleanScanItem& container) {
    std::map<std::string, std::uint64_t> sizes;
    for (const auto& child : container.children) sizes[child->name().value_or("?")] = child->size;
    return sizes;
  }

  ScanFixtureTree home;
};

TEST_F(DeveloperCleanScanProcedureTest, FindsDeviceSupportArchivesAndSimulatorsAndSizesThem) {
  home.file(kXcode + "iOS DeviceSupport/17.0 (21A329)/Symbols/a", 100);
  home.file(kXcode + "iOS DeviceSupport/16.4/b", 30);
  home.file(kXcode + "iOS DeviceSupport/stray file", 5);
  home.directory(kXcode + "watchOS Device Support");  // not the folder's name
  home.file(kXcode + "Archives/2024-01-31/Demo 31-01-2024.xcarchive/Products/app", 70);
  writePlist(home.path(kXcode + "Archives/2024-01-31/Demo 31-01-2024.xcarchive/Info.plist"), archiveInfo("1.2"));
  home.directory(kXcode + "Archives/2024-02-01/Incomplete.xcarchive");
  writePlist(home.path(kXcode + "Archives/2024-02-01/Incomplete.xcarchive/Info.plist"), archiveInfo(std::nullopt));
  home.file(kXcode + "Archives/2024-02-01/Broken.xcarchive/Info.plist", 9);
  home.file(kDevices + "AAAA/data/disk", 200);
  writePlist(home.path(kDevices + "AAAA/device.plist"),
             {{"name", Value("iPhone 15")}, {"runtime", Value("com.apple.CoreSimulator.SimRuntime.iOS-17-2")}});
  home.directory(kDevices + "BBBB");
  writePlist(home.path(kDevices + "BBBB/device.plist"), {{"name", Value("Watch")}, {"runtime", Value("watchOS-10-1")}});
  home.directory(kDevices + "CCCC");
  home.file(kDevices + "device_set.plist", 3);

  auto containers = scan();
  ASSERT_EQ(containers.size(), 3u);
  const auto& support = containers["iOS Device Support"];
  ASSERT_TRUE(support);
  EXPECT_EQ(support->file->url().path(), home.path(kXcode + "iOS DeviceSupport"));
  EXPECT_EQ(support->file->type(), FileNode::NodeType::directory);
  EXPECT_EQ(childSizes(*support), (std::map<std::string, std::uint64_t>{{"iOS 16.4", 30}, {"iOS 17.0 (21A329)", 100}}));
  // A container with children is the sum of them, not of its folder (the stray file).
  EXPECT_EQ(support->size, 130u);

  const auto& archives = containers["Archives"];
  ASSERT_TRUE(archives);
  auto archiveSizes = childSizes(*archives);
  EXPECT_EQ(archiveSizes.size(), 3u);
  EXPECT_TRUE(archiveSizes.count("Demo 1.2 (42)"));
  // Without a short version, or with an Info.plist that is no property list, the archive
  // keeps its folder name.
  EXPECT_TRUE(archiveSizes.count("Incomplete.xcarchive"));
  EXPECT_EQ(archiveSizes["Broken.xcarchive"], 9u);
  EXPECT_GT(archiveSizes["Demo 1.2 (42)"], 70u);
  EXPECT_EQ(archives->size, archiveSizes["Demo 1.2 (42)"] + archiveSizes["Incomplete.xcarchive"] + 9);

  const auto& simulators = containers["Simulators"];
  ASSERT_TRUE(simulators);
  auto deviceSizes = childSizes(*simulators);
  EXPECT_EQ(deviceSizes.size(), 3u);
  EXPECT_TRUE(deviceSizes.count("iPhone 15 \u00B7 iOS 17.2"));
  // A runtime without "." is its own last piece.
  EXPECT_TRUE(deviceSizes.count("Watch \u00B7 watchOS 10.1"));
  EXPECT_TRUE(deviceSizes.count("CCCC"));
  EXPECT_GT(deviceSizes["iPhone 15 \u00B7 iOS 17.2"], 200u);
}

TEST_F(DeveloperCleanScanProcedureTest, WithoutADeveloperFolderGivesEmptyArchivesAndSimulators) {
  auto containers = scan();
  ASSERT_EQ(containers.size(), 2u);
  for (const char* name : {"Archives", "Simulators"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(containers[name]);
    EXPECT_TRUE(containers[name]->children.empty());
    EXPECT_EQ(containers[name]->size, 0u);
  }
  // A container without children gets the size of its whole folder.
  home.file(kXcode + "Archives/notes.txt", 25);
  home.directory(kXcode + "tvOS DeviceSupport");
  containers = scan();
  ASSERT_EQ(containers.size(), 3u);
  EXPECT_EQ(containers["Archives"]->size, 25u);
  ASSERT_TRUE(containers["tvOS Device Support"]);
  EXPECT_TRUE(containers["tvOS Device Support"]->children.empty());
}

TEST(DeveloperDisplayNameTest, SplitsTheRuntimeAsWritten) {
  EXPECT_EQ(DeveloperCleanScanProcedure::simulatorDisplayName("iPad", "com.apple.CoreSimulator.SimRuntime.iOS-8-0"),
            "iPad \u00B7 iOS 8.0");
  EXPECT_EQ(DeveloperCleanScanProcedure::simulatorDisplayName("TV", "tvOS-17"), "TV \u00B7 tvOS 17");
  EXPECT_EQ(DeveloperCleanScanProcedure::simulatorDisplayName("X", "runtime.ends."), "X \u00B7  ");
  EXPECT_EQ(DeveloperCleanScanProcedure::simulatorDisplayName("X", "a.b-c--d"), "X \u00B7 b c..d");
}

TEST(DeveloperDisplayNameTest, ReadsRealArchiveAndDevicePropertyLists) {
  const std::filesystem::path samples = VANTEL_SAMPLES_DIR;
  if (!std::filesystem::exists(samples / "xcarchive")) GTEST_SKIP() << "no samples at " << samples;
  ScanFixtureTree tree;
  auto place = [&](const std::string& relative, const std::filesystem::path& sample) {
    tree.directory(relative);
    std::filesystem::copy_file(sample, tree.path(relative) + "/" + (relative.ends_with("device") ? "device.plist" : "Info.plist"));
    return FileURL::fileURLWithPath(tree.path(relative), true);
  };
  auto sentry = place("Sentry.xcarchive", samples / "xcarchive/sentry-cli_archive.xcarchive_Info.plist");
  auto fastlane = place("Fastlane.xcarchive", samples / "xcarchive/fastlane_Archive.xcarchive_Info.plist");
  auto device = place("device", samples / "simulator/plget_example_device.plist");
  EXPECT_EQ(DeveloperCleanScanProcedure::archiveDisplayName(sentry), "DemoApp 1.0 (1)");
  EXPECT_EQ(DeveloperCleanScanProcedure::archiveDisplayName(fastlane), "MyApp 0.9.14 (0.9.14)");
  EXPECT_EQ(DeveloperCleanScanProcedure::simulatorDisplayName(device), "iPad Retina \u00B7 iOS 8.0");
  EXPECT_EQ(DeveloperCleanScanProcedure::archiveDisplayName(device), std::nullopt);
}

}  // namespace
}  // namespace vantelkit
