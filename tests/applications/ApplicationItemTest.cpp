#include "vantelkit/applications/ApplicationItem.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/BundleBuilder.h"
#include "support/IcnsBuilder.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/applications/ApplicationBundle.h"
#include "vantelkit/applications/ApplicationSupportFiles.h"
#include "vantelkit/applications/FileIcon.h"

namespace vantelkit {
namespace {

using Category = ApplicationResourceGroup::Category;
using Resource = ApplicationResourceGroup::Resource;
using testing::applicationInfo;
using testing::icnsFile;
using testing::pngPayload;
using testing::PlistFormat;
using testing::writeBundle;
using testing::writeFile;

class ApplicationItemTest : public ::testing::Test {
 protected:
  std::shared_ptr<FileNode> bundleNode(const std::string& name, const Value::Dictionary& info,
                                       std::int64_t size = 4096, PlistFormat format = PlistFormat::xml) {
    writeBundle(tree.path(name), Value(info), format);
    return FileNode::make(FileURL::fileURLWithPath(tree.path(name), true), nullptr, size, FileNode::NodeType::directory);
  }
  std::shared_ptr<Resource> resource(const std::string& name, std::int64_t size) {
    return Resource::make(*FileNode::make(FileURL::fileURLWithPath(tree.path(name)), nullptr, size,
                                          FileNode::NodeType::file));
  }
  vantel::testing::ScanFixtureTree tree;
};

TEST_F(ApplicationItemTest, FreshItemHoldsOnlyItsBundle) {
  auto item = ApplicationItem::make(bundleNode("Editor.app", applicationInfo("org.example.Editor", "Editor"), 5000));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->identifier(), "org.example.Editor");
  EXPECT_FALSE(item->isMacAppStore());
  EXPECT_TRUE(item->childApplications.empty());
  EXPECT_TRUE(item->resources.empty());
  auto all = item->allResources();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all.front()->category, Category::binaries);
  ASSERT_EQ(item->binaries->files.size(), 1u);
  const auto& own = *item->binaries->files.front();
  EXPECT_EQ(own.name, "Editor.app");
  EXPECT_EQ(own.size, 5000);
  EXPECT_EQ(own.type, FileNode::NodeType::directory);
  EXPECT_EQ(own.url, item->url());
  EXPECT_EQ(item->totalSize(), 5000);
  ASSERT_TRUE(item->icon);
  EXPECT_FALSE(item->icon->isEmpty());
}

TEST_F(ApplicationItemTest, TotalSizeAddsEveryGroup) {
  auto item = ApplicationItem::make(bundleNode("A.app", applicationInfo("org.example.a", "A"), 100));
  ASSERT_NE(item, nullptr);
  item->resources.push_back(ApplicationResourceGroup::make(Category::caches, {resource("c1", 10), resource("c2", 20)}));
  item->resources.push_back(ApplicationResourceGroup::make(Category::logs));
  item->resources.push_back(ApplicationResourceGroup::make(Category::preferences, {resource("p", 3), nullptr}));
  EXPECT_EQ(item->totalSize(), 133);
  auto all = item->allResources();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0], item->binaries);
  EXPECT_EQ(all[1]->category, Category::caches);
  EXPECT_EQ(all[3]->category, Category::preferences);
  all.clear();  // a new list each time: the item keeps its groups
  EXPECT_EQ(item->allResources().size(), 4u);
}

TEST_F(ApplicationItemTest, ReceiptFileOrFolderMarksMacAppStore) {
  auto withFolder = bundleNode("Store.app", applicationInfo("org.example.store", "Store"));
  tree.directory("Store.app/Contents/_MASReceipt");
  EXPECT_TRUE(ApplicationItem::make(withFolder)->isMacAppStore());
  auto withFile = bundleNode("File.app", applicationInfo("org.example.file", "File"));
  tree.file("File.app/Contents/_MASReceipt", 1);
  EXPECT_TRUE(ApplicationItem::make(withFile)->isMacAppStore());
  auto misplaced = bundleNode("Misplaced.app", applicationInfo("org.example.m", "M"));
  tree.directory("Misplaced.app/_MASReceipt");
  tree.directory("Misplaced.app/Contents/_MASReceipt.bak");
  EXPECT_FALSE(ApplicationItem::make(misplaced)->isMacAppStore());
}

TEST_F(ApplicationItemTest, NoItemWithoutBundleIdentity) {
  EXPECT_EQ(ApplicationItem::make(bundleNode("NoId.app", {{"CFBundleName", Value("x")}})), nullptr);
  EXPECT_EQ(ApplicationItem::make(FileNode::make(FileURL::fileURLWithPath(tree.path("gone.app")), nullptr, 0,
                                                 FileNode::NodeType::directory)),
            nullptr);
  EXPECT_EQ(ApplicationItem::make(nullptr), nullptr);
}

TEST_F(ApplicationItemTest, EqualityAndSetsGoByIdentifier) {
  auto first = ApplicationItem::make(bundleNode("One.app", applicationInfo("org.example.same", "One")));
  auto second = ApplicationItem::make(bundleNode("Two/One.app", applicationInfo("org.example.same", "Other")));
  auto third = ApplicationItem::make(bundleNode("Three.app", applicationInfo("org.example.third", "Three")));
  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(*first, *second);
  EXPECT_FALSE(*first == *third);
  ApplicationItemSet set;
  EXPECT_TRUE(set.insert(first).second);
  EXPECT_FALSE(set.insert(second).second);
  EXPECT_TRUE(set.insert(third).second);
  EXPECT_EQ((*set.find(second))->url(), first->url());  // the first inserted stays

  auto bundleA = ApplicationBundle::make(first->url(), first->bundleInfo);
  auto bundleB = ApplicationBundle::make(second->url(), second->bundleInfo);
  EXPECT_EQ(bundleA->name(), "One");
  EXPECT_FALSE(bundleA->icon.has_value());
  ApplicationBundleSet bundles{bundleA};
  EXPECT_FALSE(bundles.insert(bundleB).second);
}

TEST_F(ApplicationItemTest, IconComesFromTheBundleIcnsAtTheExactWidth) {
  auto info = applicationInfo("org.example.icon", "Icon");
  info.emplace("CFBundleIconFile", Value("AppIcon"));  // without ".icns"
  auto node = bundleNode("Icon.app", info, 1, PlistFormat::binary);
  writeFile(tree.path("Icon.app/Contents/Resources/AppIcon.icns"),
            icnsFile({{"ic12", pngPayload(64, 64)},
                      {"ic07", pngPayload(128, 90)},
                      {"ic04", "ARGB...."},
                      {"ic13", pngPayload(128, 128)},
                      {"ic11", pngPayload(32, 32)}}));
  const platform::Image whole = fileIcon(node->url());
  ASSERT_EQ(whole.representations.size(), 4u);
  EXPECT_EQ(whole.representations[0].pixelsWide, 64);
  EXPECT_EQ(whole.representations[3].pixelsWide, 32);

  // The first representation of exactly that width, alone; the height is not looked at.
  const platform::Image at128 = fileIcon(node->url(), 128);
  ASSERT_EQ(at128.representations.size(), 1u);
  EXPECT_EQ(at128.representations[0].data, whole.representations[1].data);
  EXPECT_EQ(at128.representations[0].format, "png");
  // No representation of that width: the whole icon.
  EXPECT_EQ(fileIcon(node->url(), 512), whole);

  auto item = ApplicationItem::make(node);
  ASSERT_TRUE(item && item->icon);
  EXPECT_EQ(*item->icon, at128);
  EXPECT_EQ(item->binaries->files.front()->icon, at128);
}

TEST_F(ApplicationItemTest, GenericIconWhenTheIconFileIsMissingOrBroken) {
  auto noFile = applicationInfo("org.example.n", "N");
  noFile.emplace("CFBundleIconFile", Value("Missing.icns"));
  auto broken = applicationInfo("org.example.b", "B");
  broken.emplace("CFBundleIconFile", Value("Broken.icns"));
  auto escaping = applicationInfo("org.example.e", "E");
  escaping.emplace("CFBundleIconFile", Value("../../Outside.icns"));
  auto notText = applicationInfo("org.example.t", "T");
  notText.emplace("CFBundleIconFile", Value(std::int64_t{5}));
  const auto plain = bundleNode("Plain.app", applicationInfo("org.example.p", "P"));
  const auto missing = bundleNode("Missing.app", noFile);
  const auto brokenNode = bundleNode("Broken.app", broken);
  writeFile(tree.path("Broken.app/Contents/Resources/Broken.icns"), std::string("icns\0\0\x01\0trunc", 13));
  const auto escapingNode = bundleNode("Escaping.app", escaping);
  writeFile(tree.path("Outside.icns"), icnsFile({{"ic07", pngPayload(128, 128)}}));
  const auto notTextNode = bundleNode("NotText.app", notText);

  const platform::Image generic = fileIcon(plain->url(), 128);
  EXPECT_FALSE(generic.isEmpty());
  EXPECT_TRUE(generic.representations.empty());
  for (const auto& node : {missing, brokenNode, escapingNode, notTextNode}) {
    EXPECT_EQ(fileIcon(node->url(), 128), generic) << node->url().path();
  }
}

TEST_F(ApplicationItemTest, ClassicIconFilesStillGiveAnIcon) {
  const std::filesystem::path sample = std::filesystem::path(VANTEL_SAMPLES_DIR) / "icns" / "alacritty.icns";
  if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no samples";
  auto info = applicationInfo("org.alacritty", "Alacritty");
  info.emplace("CFBundleIconFile", Value("alacritty.icns"));
  auto node = bundleNode("Alacritty.app", info);
  tree.directory("Alacritty.app/Contents/Resources");
  std::filesystem::copy_file(sample, tree.path("Alacritty.app/Contents/Resources/alacritty.icns"));
  EXPECT_EQ(fileIcon(node->url()).representations.size(), 8u);
  EXPECT_EQ(fileIcon(node->url(), 512).representations.size(), 1u);
  EXPECT_EQ(fileIcon(node->url(), 512).representations[0].pixelsWide, 512);
}

TEST(ApplicationResourceGroupTest, CategoriesRoundTripExactly) {
  EXPECT_EQ(ApplicationResourceGroup::allCategories.size(), 12u);
  for (Category category : ApplicationResourceGroup::allCategories) {
    EXPECT_EQ(ApplicationResourceGroup::categoryFromRawValue(ApplicationResourceGroup::rawValue(category)), category);
    EXPECT_NE(ApplicationResourceGroup::localizedName(category), ApplicationResourceGroup::localizationKey(category));
  }
  EXPECT_EQ(ApplicationResourceGroup::categoryFromRawValue("supportFiles"), Category::supportFiles);
  EXPECT_EQ(ApplicationResourceGroup::categoryFromRawValue("support_files"), std::nullopt);
  EXPECT_EQ(ApplicationResourceGroup::categoryFromRawValue("SupportFiles"), std::nullopt);
  EXPECT_EQ(ApplicationResourceGroup::localizationKey(Category::groupContainers),
            "application_resource_group_containers");
  EXPECT_EQ(ApplicationResourceGroup::localizedName(Category::helperTools), "Helper Tools");
}

TEST(ApplicationResourceGroupTest, EqualityByCategoryAndResourcesByURL) {
  const FileURL url = FileURL::fileURLWithPath("/tmp/x/cache");
  auto small = std::make_shared<Resource>("cache", url, 1, std::nullopt, FileNode::NodeType::directory);
  auto large = std::make_shared<Resource>("other", url, 999, std::nullopt, FileNode::NodeType::file);
  EXPECT_EQ(*small, *large);
  EXPECT_EQ(small->hash(), large->hash());
  std::unordered_set<std::shared_ptr<Resource>, ApplicationResourceHash, ApplicationResourceEqual> resources{small};
  EXPECT_FALSE(resources.insert(large).second);

  auto caches = ApplicationResourceGroup::make(Category::caches, {small});
  auto otherCaches = ApplicationResourceGroup::make(Category::caches);
  EXPECT_EQ(*caches, *otherCaches);
  EXPECT_EQ(caches->hash(), std::hash<std::string_view>{}("caches"));
  EXPECT_FALSE(*caches == *ApplicationResourceGroup::make(Category::logs, {small}));
  EXPECT_EQ(otherCaches->totalSize(), 0);
  EXPECT_EQ(caches->totalSize(), 1);
}

TEST(ApplicationSupportFilesTest, StartsWithTwentyOneEmptyLists) {
  ApplicationSupportFiles files;
  const ApplicationSupportFiles::Nodes* lists[] = {
      &files.applications,
      &files.applicationsUtilities,
      &files.libraryPreferences,
      &files.libraryApplicationSupport,
      &files.libraryLogs,
      &files.libraryApplicationSupportCrashReporter,
      &files.libraryLaunchagents,
      &files.librarySecuritySecurityAgentsPlugins,
      &files.libraryInternetPlugins,
      &files.libraryPrivilegedHelperTools,
      &files.privateVarFolders,
      &files.userLibraryApplicationSupportCrashReporter,
      &files.userLibrary,
      &files.userLibraryApplicationScripts,
      &files.userLibraryContainers,
      &files.userLibraryGroupContainers,
      &files.userLibraryPreferences,
      &files.userLibrarySavedApplicationState,
      &files.userLibraryCaches,
      &files.userLibraryCookies,
      &files.userLibraryApplicationSupport,
  };
  EXPECT_EQ(sizeof(ApplicationSupportFiles), sizeof(lists) / sizeof(lists[0]) * sizeof(ApplicationSupportFiles::Nodes));
  for (const auto* list : lists) EXPECT_TRUE(list->empty());
}

}  // namespace
}  // namespace vantelkit
