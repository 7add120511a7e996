#include "vantelkit/applications/SimpleMatchSupportingFilesProcedure.h"

#include <gtest/gtest.h>

#include "vantelkit/applications/SupportFileMatcher.h"
#include "vantelkit/foundation/ProcedureQueue.h"

using namespace vantelkit;
using Category = ApplicationResourceGroup::Category;
using Nodes = ApplicationSupportFiles::Nodes;

namespace {

const BundleInfo kEditor("Editor Pro", "org.example.EditorPro", BundleVersion());

// Nodes as a depth-2 scan of a folder presents them: entries and their children, children
// linked to their parents.
class Candidates {
 public:
  explicit Candidates(std::string folder)
      : _root(FileNode::make(FileURL::fileURLWithPath(folder, true), nullptr, 0, FileNode::NodeType::directory)) {}

  std::shared_ptr<FileNode> add(std::string_view name, FileNode::NodeType type = FileNode::NodeType::file,
                                const std::shared_ptr<FileNode>& parent = nullptr, std::int64_t size = 1) {
    const auto& under = parent ? parent : _root;
    auto node = FileNode::make(under->url().appendingPathComponent(name, type == FileNode::NodeType::directory), under,
                               size, type);
    _nodes.push_back(node);
    return node;
  }
  const Nodes& nodes() const { return _nodes; }

 private:
  std::shared_ptr<FileNode> _root;
  Nodes _nodes;
};

std::vector<std::string> names(const Nodes& nodes) {
  std::vector<std::string> result;
  for (const auto& node : nodes) result.push_back(node->name());
  return result;
}

std::vector<std::string> names(const ApplicationResourceGroup& group) {
  std::vector<std::string> result;
  for (const auto& resource : group.files) result.push_back(resource->name);
  return result;
}

std::vector<std::shared_ptr<ApplicationResourceGroup>> run(std::vector<BundleInfo> bundles,
                                                           std::shared_ptr<ApplicationSupportFiles> files) {
  auto procedure = std::make_shared<SimpleMatchSupportingFilesProcedure>(std::move(bundles), std::move(files));
  ProcedureQueue queue;
  queue.addOperation(procedure);
  EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  EXPECT_FALSE(procedure->failed());
  auto groups = procedure->successValue();
  return groups ? *groups : std::vector<std::shared_ptr<ApplicationResourceGroup>>{};
}

TEST(SupportFileMatcherTest, MatchesTheNameExactlyOrTheIdentifierAnywhereIgnoringCase) {
  const SupportFileMatcher matcher({kEditor});
  using Kind = SupportFileMatcher::Match::Kind;
  EXPECT_EQ(matcher.match("org.example.editorpro.plist"), (SupportFileMatcher::Match{Kind::identifier, 0}));
  EXPECT_EQ(matcher.match("ORG.EXAMPLE.EDITORPRO.plist"), (SupportFileMatcher::Match{Kind::identifier, 0}));
  EXPECT_EQ(matcher.match("group.org.example.EditorPro.shared"), (SupportFileMatcher::Match{Kind::identifier, 0}));
  EXPECT_EQ(matcher.match("Editor Pro"), (SupportFileMatcher::Match{Kind::name, 0}));
  EXPECT_EQ(matcher.match("editor pro"), (SupportFileMatcher::Match{Kind::name, 0}));
  EXPECT_FALSE(matcher.match("Editor Pro Backups"));
  EXPECT_FALSE(matcher.match("Editor Pro 2"));
  EXPECT_FALSE(matcher.match("EditorPro.plist"));
  EXPECT_FALSE(matcher.match("org.example"));
}

TEST(SupportFileMatcherTest, NamesArePreferredAndBundlesAreAskedInOrder) {
  const BundleInfo helper("Editor Helper", "org.example.EditorPro.helper", BundleVersion());
  const SupportFileMatcher matcher({kEditor, helper});
  using Kind = SupportFileMatcher::Match::Kind;
  // The helper's identifier contains the application's; the first bundle in order wins.
  EXPECT_EQ(matcher.match("org.example.EditorPro.helper.plist"), (SupportFileMatcher::Match{Kind::identifier, 0}));
  EXPECT_EQ(matcher.match("EDITOR HELPER"), (SupportFileMatcher::Match{Kind::name, 1}));
  // Unicode letters are compared without case as well.
  const SupportFileMatcher unicode({BundleInfo("\xC3\x9C" "bersicht", "org.example.uebersicht", BundleVersion())});
  EXPECT_TRUE(unicode.match("\xC3\xBC" "bersicht"));
}

TEST(SupportFileMatcherTest, AnEmptyIdentifierMatchesNothing) {
  const SupportFileMatcher matcher({BundleInfo("Tool", "", BundleVersion())});
  EXPECT_FALSE(matcher.match("anything.plist"));
  EXPECT_TRUE(matcher.match("tool"));
  EXPECT_FALSE(SupportFileMatcher({}).match("tool"));
}

TEST(SimpleMatchSupportingFilesProcedureTest, KeepsOnlyTheOutermostMatchAndSortsByPath) {
  Candidates prefs("/Library/Preferences");
  auto folder = prefs.add("Editor Pro", FileNode::NodeType::directory);
  prefs.add("org.example.EditorPro.plist", FileNode::NodeType::file, folder);
  prefs.add("unrelated", FileNode::NodeType::file, folder);
  auto other = prefs.add("Shared", FileNode::NodeType::directory);
  auto inner = prefs.add("org.example.EditorPro.inner.plist", FileNode::NodeType::file, other);
  prefs.add("b.org.example.editorpro");
  prefs.add("a.org.example.editorpro");
  Nodes candidates = prefs.nodes();
  // The same location twice (a list joined from overlapping scans) still gives one entry.
  candidates.push_back(FileNode::make(inner->url(), other, 1, FileNode::NodeType::file));

  auto nodes = SimpleMatchSupportingFilesProcedure::matchingNodes({kEditor}, candidates);
  EXPECT_EQ(names(nodes), (std::vector<std::string>{"Editor Pro", "org.example.EditorPro.inner.plist",
                                                    "a.org.example.editorpro", "b.org.example.editorpro"}));
}

TEST(SimpleMatchSupportingFilesProcedureTest, AncestorsAreFoundAcrossSeveralLevels) {
  Candidates support("/home/u/Library/Application Support");
  auto top = support.add("org.example.EditorPro", FileNode::NodeType::directory);
  auto middle = support.add("Data", FileNode::NodeType::directory, top);
  support.add("org.example.EditorPro.db", FileNode::NodeType::file, middle);
  auto nodes = SimpleMatchSupportingFilesProcedure::matchingNodes({kEditor}, support.nodes());
  EXPECT_EQ(names(nodes), (std::vector<std::string>{"org.example.EditorPro"}));
}

TEST(SimpleMatchSupportingFilesProcedureTest, SortsEachCategoryFromItsLocationsAndDropsBlacklistedNames) {
  auto files = std::make_shared<ApplicationSupportFiles>();
  Candidates prefs("/Library/Preferences");
  prefs.add("ORG.EXAMPLE.EDITORPRO.plist");
  prefs.add("com.apple.org.example.EditorPro.plist");  // blacklisted: "apple"
  files->libraryPreferences = prefs.nodes();
  Candidates userPrefs("/home/u/Library/Preferences");
  userPrefs.add("org.example.EditorPro.plist");
  files->userLibraryPreferences = userPrefs.nodes();
  Candidates crash("/home/u/Library/Application Support/CrashReporter");
  crash.add("Editor Pro_crashreporter.plist");  // blacklisted: "crashreporter"
  crash.add("org.example.EditorPro_2024.crash");
  files->userLibraryApplicationSupportCrashReporter = crash.nodes();
  Candidates logs("/Library/Logs");
  logs.add("CrashReporter", FileNode::NodeType::directory);  // capitals pass the blacklist; no match though
  logs.add("Apple Editor Pro");
  files->libraryLogs = logs.nodes();
  Candidates containers("/home/u/Library/Containers");
  containers.add("org.example.EditorPro", FileNode::NodeType::directory);
  files->userLibraryContainers = containers.nodes();
  Candidates agents("/Library/LaunchAgents");
  agents.add("org.example.EditorPro.agent.plist");
  files->libraryLaunchagents = agents.nodes();
  Candidates apps("/Applications");
  apps.add("Editor Pro.app", FileNode::NodeType::directory);
  apps.add("Editor Pro", FileNode::NodeType::directory);
  apps.add("org.example.EditorPro.app", FileNode::NodeType::directory);
  files->applications = apps.nodes();
  Candidates library("/home/u/Library");
  library.add("Editor Pro", FileNode::NodeType::directory);  // the home Library feeds no category
  files->userLibrary = library.nodes();
  files->privateVarFolders = library.nodes();

  auto groups = run({kEditor}, files);
  ASSERT_EQ(groups.size(), 11u);
  std::vector<Category> order;
  for (const auto& group : groups) order.push_back(group->category);
  EXPECT_EQ(order, (std::vector<Category>{Category::preferences, Category::supportFiles, Category::logs,
                                          Category::caches, Category::containers, Category::groupContainers,
                                          Category::scripts, Category::plugins, Category::helperTools,
                                          Category::loginItems, Category::other}));
  // By path: "/Library/..." sorts before "/home/...".
  EXPECT_EQ(names(*groups[0]), (std::vector<std::string>{"ORG.EXAMPLE.EDITORPRO.plist", "org.example.EditorPro.plist"}));
  EXPECT_TRUE(groups[1]->files.empty());
  EXPECT_EQ(names(*groups[2]), (std::vector<std::string>{"org.example.EditorPro_2024.crash"}));
  EXPECT_EQ(names(*groups[4]), (std::vector<std::string>{"org.example.EditorPro"}));
  EXPECT_EQ(groups[4]->files[0]->type, FileNode::NodeType::directory);
  EXPECT_EQ(names(*groups[9]), (std::vector<std::string>{"org.example.EditorPro.agent.plist"}));
  EXPECT_EQ(names(*groups[10]), (std::vector<std::string>{"Editor Pro"}));
  std::int64_t total = 0;
  for (const auto& group : groups) total += group->totalSize();
  EXPECT_EQ(total, 6);
}

TEST(SimpleMatchSupportingFilesProcedureTest, NestedApplicationsMatchThroughTheirOwnIdentifiers) {
  auto files = std::make_shared<ApplicationSupportFiles>();
  Candidates caches("/home/u/Library/Caches");
  caches.add("net.example.EditorSync.cache");
  caches.add("net.other.Thing");
  files->userLibraryCaches = caches.nodes();
  const BundleInfo helper("Editor Sync", "net.example.EditorSync", BundleVersion());
  EXPECT_TRUE(run({BundleInfo("Editor", "org.example.Editor", BundleVersion())}, files)[3]->files.empty());
  auto groups = run({BundleInfo("Editor", "org.example.Editor", BundleVersion()), helper}, files);
  EXPECT_EQ(names(*groups[3]), (std::vector<std::string>{"net.example.EditorSync.cache"}));
}

TEST(SimpleMatchSupportingFilesProcedureTest, EmptyInputsGiveElevenEmptyGroups) {
  auto files = std::make_shared<ApplicationSupportFiles>();
  Candidates caches("/home/u/Library/Caches");
  caches.add("Editor Pro");
  files->userLibraryCaches = caches.nodes();
  for (auto groups : {run({}, files), run({kEditor}, std::make_shared<ApplicationSupportFiles>()), run({kEditor}, nullptr)}) {
    ASSERT_EQ(groups.size(), 11u);
    for (const auto& group : groups) EXPECT_TRUE(group->files.empty());
  }
}

TEST(SimpleMatchSupportingFilesProcedureTest, AFilterSetBeforeRunningReplacesTheBlacklist) {
  auto files = std::make_shared<ApplicationSupportFiles>();
  Candidates caches("/home/u/Library/Caches");
  caches.add("com.apple.Editor Pro.cache");
  caches.add("Editor Pro");
  files->userLibraryCaches = caches.nodes();
  auto procedure = std::make_shared<SimpleMatchSupportingFilesProcedure>(
      std::vector<BundleInfo>{BundleInfo("Editor", "Editor Pro", BundleVersion())}, files);
  EXPECT_TRUE(procedure->blacklistFilter()(caches.nodes()[1]));
  EXPECT_FALSE(procedure->blacklistFilter()(caches.nodes()[0]));
  procedure->setBlacklistFilter([](const std::shared_ptr<FileNode>& node) { return node->name() != "Editor Pro"; });
  ProcedureQueue queue;
  queue.addOperation(procedure);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  EXPECT_EQ(names(*(*procedure->successValue())[3]), (std::vector<std::string>{"com.apple.Editor Pro.cache"}));
}

}  // namespace
