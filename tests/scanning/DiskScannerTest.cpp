#include "vantelkit/scanning/DiskScanner.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>

#include "support/FaultInjectingDirectoryReader.h"
#include "support/ScanFixtureTree.h"

using namespace vantelkit;
using vantel::testing::FaultInjectingDirectoryReader;
using vantel::testing::ScanFixtureTree;
using NodeType = FileNode::NodeType;
namespace fs = std::filesystem;

namespace {

std::shared_ptr<DiskScanResult> mapOf(const std::string& path, bool searchBundles = false,
                                      std::optional<int> depthLimit = std::nullopt,
                                      std::shared_ptr<platform::DirectoryReader> reader = nullptr) {
  auto scanner = DiskScanner::make({}, std::move(reader));
  return scanner->scan(FileURL::fileURLWithPath(path),
                       {.buildTree = true, .searchBundles = searchBundles, .depthLimit = depthLimit});
}

std::shared_ptr<FileNode> child(const std::shared_ptr<FileNode>& node, std::string_view name) {
  for (const auto& c : node->children())
    if (c->name() == name) return c;
  return nullptr;
}

TEST(DiskScannerTest, TreeSizesAreSumsOfRegularFilesInListingOrder) {
  ScanFixtureTree tree;
  tree.file("a", 10);
  tree.file("sub/b", 5);
  auto result = mapOf(tree.root());
  auto root = result->root();
  EXPECT_EQ(root->size(), 15);
  EXPECT_EQ(result->totalFilesScanned(), 3);
  ASSERT_EQ(root->children().size(), 2u);
  EXPECT_EQ(child(root, "sub")->size(), 5);
  EXPECT_EQ(child(root, "sub")->type(), NodeType::directory);
  EXPECT_TRUE(child(root, "sub")->url().hasDirectoryPath());
  EXPECT_EQ(child(root, "sub")->parent(), root);
  EXPECT_EQ(child(child(root, "sub"), "b")->url().path(), tree.path("sub/b"));

  // Listing order is the file system's, as a plain directory read returns it.
  std::vector<std::string> expected;
  for (const auto& entry : fs::directory_iterator(tree.root())) expected.push_back(entry.path().filename().string());
  std::vector<std::string> actual;
  for (const auto& c : root->children()) actual.push_back(c->name());
  EXPECT_EQ(actual, expected);
}

TEST(DiskScannerTest, LinksPipesAndSocketsGetNoNodesAndLinksAreNotFollowed) {
  ScanFixtureTree tree;
  tree.file("real/data", 100);
  tree.symbolicLink("linkToFolder", tree.path("real"));
  tree.symbolicLink("linkToFile", tree.path("real/data"));
  tree.symbolicLink("dangling", tree.path("nowhere"));
  ASSERT_TRUE(tree.fifo("pipe"));
  tree.socket("socket");
  auto result = mapOf(tree.root());
  EXPECT_EQ(result->root()->children().size(), 1u);
  EXPECT_EQ(result->root()->size(), 100);
  EXPECT_EQ(result->totalFilesScanned(), 2);
}

TEST(DiskScannerTest, SparseFilesCountTheirLogicalSizeAndHardLinksCountEachTime) {
  ScanFixtureTree tree;
  tree.sparseFile("sparse", std::int64_t{1} << 40);
  tree.file("one", 7);
  tree.hardLink("two", "one");
  auto result = mapOf(tree.root());
  EXPECT_EQ(result->root()->size(), (std::int64_t{1} << 40) + 14);
}

TEST(DiskScannerTest, NamesThatAreNotUTF8AreKeptAsTheyAre) {
  ScanFixtureTree tree;
  std::string odd = "caf\xe9 \xff\xfe";
  tree.file(odd, 3);
  tree.file("new\nline", 1);
  tree.file(" leading space", 1);
  tree.file("-dash", 1);
  auto result = mapOf(tree.root());
  ASSERT_TRUE(child(result->root(), odd));
  EXPECT_EQ(child(result->root(), odd)->size(), 3);
  EXPECT_EQ(child(result->root(), odd)->url().path(), tree.path(odd));
  EXPECT_TRUE(child(result->root(), "new\nline"));
  EXPECT_EQ(result->root()->size(), 6);
}

TEST(DiskScannerTest, BundlesAreLeavesUnlessSearched) {
  ScanFixtureTree tree;
  tree.file("Foo.app/Contents/MacOS/foo", 50);
  tree.file("Bar.kext/Contents/Info.plist", 20);
  tree.file("Baz.bundle/x", 1);
  auto collector = std::make_shared<FileCollector>();
  auto scanner = DiskScanner::make();
  auto result = scanner->scan(FileURL::fileURLWithPath(tree.root()), {.collectors = {collector}, .buildTree = true});
  auto app = child(result->root(), "Foo.app");
  ASSERT_TRUE(app);
  EXPECT_TRUE(app->children().empty());
  EXPECT_EQ(app->size(), 0);
  EXPECT_TRUE(child(result->root(), "Bar.kext")->children().empty());
  EXPECT_EQ(child(result->root(), "Baz.bundle")->size(), 1);
  // The bundles still reached the collector.
  EXPECT_EQ(collector->fileCount(), 4u);

  auto searched = mapOf(tree.root(), true);
  EXPECT_EQ(child(searched->root(), "Foo.app")->size(), 50);
  EXPECT_EQ(searched->root()->size(), 71);
}

TEST(DiskScannerTest, DepthLimitCountsListedLevelsFromTheRoot) {
  ScanFixtureTree tree;
  tree.file("top", 1);
  tree.file("d1/f", 2);
  tree.file("d1/d2/f", 4);
  for (int limit : {0, 1}) {
    auto result = mapOf(tree.root(), false, limit);
    EXPECT_EQ(result->totalFilesScanned(), 2) << limit;
    EXPECT_TRUE(child(result->root(), "d1")->children().empty());
    EXPECT_EQ(child(result->root(), "d1")->size(), 0);
  }
  auto two = mapOf(tree.root(), false, 2);
  EXPECT_EQ(two->totalFilesScanned(), 4);
  EXPECT_EQ(two->root()->size(), 3);
  EXPECT_EQ(mapOf(tree.root(), false, std::nullopt)->root()->size(), 7);
}

TEST(DiskScannerTest, RootsThatCannotBeListedGiveAnEmptyResult) {
  ScanFixtureTree tree;
  tree.file("plain", 5);
  for (auto path : {tree.path("plain"), tree.path("missing")}) {
    auto result = mapOf(path);
    ASSERT_TRUE(result->root());
    EXPECT_TRUE(result->root()->children().empty());
    EXPECT_EQ(result->totalFilesScanned(), 0);
    EXPECT_EQ(result->root()->size(), 0);
  }
  // A link as the root is followed, as the caller named it.
  tree.symbolicLink("rootLink", tree.root());
  tree.directory("inner");
  EXPECT_EQ(mapOf(tree.path("rootLink"))->root()->size(), 5);
}

TEST(DiskScannerTest, UnreadableAndVanishingDirectoriesContributeNothing) {
  ScanFixtureTree tree;
  tree.file("locked/secret", 100);
  tree.file("gone/x/y", 100);
  tree.file("partial/a", 1);
  tree.file("partial/b", 1);
  tree.file("partial/c", 1);
  tree.file("fine/z", 9);
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  reader->failOpen(tree.path("locked"));
  reader->failReadAfter(tree.path("partial"), 2);
  reader->setBeforeListing([&tree](const std::string& path) {
    if (path == tree.path("gone")) fs::remove_all(path);
  });
  auto result = mapOf(tree.root(), false, std::nullopt, reader);
  auto root = result->root();
  EXPECT_EQ(child(root, "locked")->size(), 0);
  EXPECT_TRUE(child(root, "gone")->children().empty());
  EXPECT_EQ(child(root, "partial")->children().size(), 2u);
  EXPECT_EQ(root->size(), 11);
  // root's 4 folders, 2 of partial's files and fine/z
  EXPECT_EQ(result->totalFilesScanned(), 7);
}

TEST(DiskScannerTest, TheResultRecordsWhatCouldNotBeReadWithTheReason) {
  ScanFixtureTree tree;
  tree.file("locked/secret", 100);
  tree.file("partial/a", 1);
  tree.file("partial/b", 1);
  tree.file("partial/c", 1);
  tree.file("nostat/f", 7);
  tree.file("nostat/g", 4);
  tree.directory("nostat/d");
  tree.file("fine/z", 9);
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  reader->failOpen(tree.path("locked"));
  reader->failReadAfter(tree.path("partial"), 2);
  reader->failStatus(tree.path("nostat/f"));
  reader->failStatus(tree.path("nostat/d"));
  for (bool buildTree : {true, false}) {
    auto scanner = DiskScanner::make({}, reader);
    auto result = scanner->scan(FileURL::fileURLWithPath(tree.root()), {.buildTree = buildTree});
    std::vector<std::string> paths;
    for (const auto& entry : result->unreadableEntries()) paths.push_back(entry.path);
    EXPECT_EQ(paths, (std::vector<std::string>{tree.path("locked"), tree.path("nostat/d"), tree.path("nostat/f"),
                                               tree.path("partial")}));
    ASSERT_EQ(result->unreadableCount(), 4u);
    EXPECT_EQ(result->unreadableEntries()[0].reason(), "Permission denied");
    EXPECT_TRUE(result->unreadableEntries()[0].isDirectory);
    EXPECT_FALSE(result->unreadableEntries()[2].isDirectory);
    EXPECT_EQ(result->unreadableEntries()[3].reason(), "Input/output error");
    // What could be read is still counted: g, partial's two files and z.
    EXPECT_EQ(result->totalSize(), 15);
    EXPECT_TRUE(result->isComplete());
    if (!buildTree) continue;
    auto root = result->root();
    EXPECT_TRUE(child(root, "locked")->hasMark(FileNode::unreadable));
    EXPECT_TRUE(child(root, "locked")->children().empty());
    EXPECT_EQ(child(root, "locked")->error(), 13);
    EXPECT_TRUE(child(root, "partial")->hasMark(FileNode::unreadable));
    auto nostat = child(root, "nostat");
    EXPECT_FALSE(nostat->hasMark(FileNode::unreadable));
    EXPECT_TRUE(child(nostat, "f")->hasMark(FileNode::unreadable));
    EXPECT_EQ(child(nostat, "f")->type(), NodeType::file);
    EXPECT_TRUE(child(nostat, "d")->hasMark(FileNode::unreadable));
    EXPECT_EQ(child(nostat, "d")->type(), NodeType::directory);
    EXPECT_FALSE(child(nostat, "g")->hasMark(FileNode::unreadable));
    EXPECT_FALSE(child(root, "fine")->hasMark(FileNode::unreadable));
    EXPECT_EQ(root->size(), 15);
  }
  // A second scan of the same scanner starts a fresh record.
  auto scanner = DiskScanner::make();
  scanner->scan(FileURL::fileURLWithPath(tree.path("missing")), {.buildTree = true});
  EXPECT_EQ(scanner->scan(FileURL::fileURLWithPath(tree.path("fine")), {.buildTree = true})
                ->unreadableCount(),
            0u);
}

TEST(DiskScannerTest, HardLinksCountOnceWhenAskedAndUsageIsSummed) {
  ScanFixtureTree tree;
  tree.file("a/original", 4096);
  tree.hardLink("b/second", "a/original");
  tree.hardLink("c/third", "a/original");
  tree.file("c/single", 100);
  tree.sparseFile("sparse", 1 << 20);
  auto scanner = DiskScanner::make();
  auto each = scanner->scan(FileURL::fileURLWithPath(tree.root()), {.buildTree = true});
  EXPECT_EQ(each->totalSize(), 3 * 4096 + 100 + (1 << 20));
  EXPECT_EQ(each->root()->size(), each->totalSize());
  EXPECT_EQ(each->hardLinks().size(), 3u);
  EXPECT_FALSE(each->hardLinksCountedOnce());
  // Allocated bytes: the sparse file has (almost) none.
  EXPECT_LT(child(each->root(), "sparse")->usage(), 1 << 20);
  EXPECT_EQ(each->root()->usage(), each->totalUsage());

  DiskScanner::WalkOptions options;
  options.countHardLinksOnce = true;
  scanner->setWalkOptions(options);
  for (bool buildTree : {true, false}) {
    auto once = scanner->scan(FileURL::fileURLWithPath(tree.root()), {.buildTree = buildTree});
    EXPECT_EQ(once->totalSize(), 4096 + 100 + (1 << 20));
    EXPECT_TRUE(once->hardLinksCountedOnce());
    if (!buildTree) continue;
    auto root = once->root();
    EXPECT_EQ(root->size(), once->totalSize());
    EXPECT_EQ(root->usage(), once->totalUsage());
    // The smallest path counts; the others are marked and out of the sums.
    EXPECT_EQ(child(root, "a")->size(), 4096);
    EXPECT_EQ(child(root, "b")->size(), 0);
    EXPECT_EQ(child(root, "c")->size(), 100);
    EXPECT_FALSE(child(child(root, "a"), "original")->hasMark(FileNode::duplicateLink));
    EXPECT_TRUE(child(child(root, "a"), "original")->hasMark(FileNode::hardLink));
    EXPECT_TRUE(child(child(root, "b"), "second")->hasMark(FileNode::duplicateLink));
    EXPECT_EQ(child(child(root, "b"), "second")->size(), 4096);
  }
}

TEST(DiskScannerTest, ExcludedNamesAndCacheFoldersAreLeftOut) {
  ScanFixtureTree tree;
  tree.file("keep/a.txt", 1);
  tree.file("keep/skip.o", 10);
  tree.file("keep/deeper/skip.o", 10);
  tree.file("build/out", 100);
  tree.file("other/build/out", 1000);
  tree.file("cache/data", 10000);
  tree.file("cache/CACHEDIR.TAG", 0);
  {
    std::FILE* tag = std::fopen(tree.path("cache/CACHEDIR.TAG").c_str(), "w");
    std::fputs("Signature: 8a477f597d28d172789f06886806bc55\n# a cache\n", tag);
    std::fclose(tag);
  }
  tree.file("fake/CACHEDIR.TAG", 5);
  auto scanner = DiskScanner::make();
  DiskScanner::WalkOptions options;
  options.excludes = {"*.o", "other/build"};
  options.excludeCaches = true;
  scanner->setWalkOptions(options);
  auto result = scanner->scan(FileURL::fileURLWithPath(tree.root()), {.buildTree = true});
  auto root = result->root();
  EXPECT_EQ(child(root, "keep")->size(), 1);
  EXPECT_FALSE(child(child(root, "keep"), "skip.o"));
  EXPECT_EQ(child(root, "build")->size(), 100);  // the pattern with "/" matches below the root only
  EXPECT_FALSE(child(child(root, "other"), "build"));
  EXPECT_TRUE(child(root, "cache")->hasMark(FileNode::cacheFolder));
  EXPECT_TRUE(child(root, "cache")->children().empty());
  EXPECT_FALSE(child(root, "fake")->hasMark(FileNode::cacheFolder));
  EXPECT_EQ(root->size(), 1 + 100 + 5);
}

TEST(DiskScannerTest, BundleNamesMatchWholeSuffixes) {
  EXPECT_TRUE(DiskScanner::isBundleName("Foo.app"));
  EXPECT_TRUE(DiskScanner::isBundleName("Bar.kext"));
  EXPECT_FALSE(DiskScanner::isBundleName("gtkext"));
  EXPECT_FALSE(DiskScanner::isBundleName("webapp"));
  EXPECT_FALSE(DiskScanner::isBundleName(".app"));
}

TEST(DiskScannerTest, AWideFolderIsListedWhole) {
  ScanFixtureTree tree;
  tree.directory("wide");
  for (int i = 0; i < 20000; ++i) tree.file("wide/entry-with-a-longish-name-" + std::to_string(i), i % 3);
  auto result = mapOf(tree.root());
  auto wide = child(result->root(), "wide");
  EXPECT_EQ(wide->children().size(), 20000u);
  std::int64_t expected = 0;
  for (int i = 0; i < 20000; ++i) expected += i % 3;
  EXPECT_EQ(wide->size(), expected);
  EXPECT_EQ(result->totalFilesScanned(), 20001);
}

TEST(DiskScannerTest, AChainDeeperThanThePathLimitIsWalkedToTheEnd) {
  ScanFixtureTree tree;
  // 700 levels of 10-byte names: about 7,700 bytes of path, beyond the 4,096-byte limit.
  // Full paths are too long to make or remove it, so each level is made relative to the
  // working directory.
  const std::string name(10, 'd');
  constexpr int levels = 700;
  auto previous = fs::current_path();
  fs::current_path(tree.root());
  for (int i = 0; i < levels; ++i) {
    fs::create_directory(name);
    fs::current_path(name);
  }
  std::FILE* leaf = std::fopen("leaf", "w");
  ASSERT_TRUE(leaf);
  std::fputs("12345", leaf);
  std::fclose(leaf);
  fs::current_path(previous);

  auto result = mapOf(tree.root());
  EXPECT_EQ(result->root()->size(), 5);
  EXPECT_EQ(result->totalFilesScanned(), levels + 1);
  auto node = result->root();
  int depth = 0;
  while (!node->children().empty()) {
    node = node->children().front();
    ++depth;
  }
  EXPECT_EQ(depth, levels + 1);
  EXPECT_EQ(node->name(), "leaf");
  EXPECT_GT(node->url().path().size(), 4096u);

  fs::current_path(tree.root());
  for (int i = 0; i < levels; ++i) fs::current_path(name);
  fs::remove("leaf");
  for (int i = 0; i < levels; ++i) {
    fs::current_path("..");
    fs::remove(name);
  }
  fs::current_path(previous);
}

// A plain serial walk that applies the scanner's rules: regular files and directories only,
// links never followed, bundles not descended into unless searched, depth counted in listed
// levels from the root.
struct Expected {
  explicit Expected(NodeType type, std::int64_t size = 0) : type(type), size(size) {}
  NodeType type;
  std::int64_t size;
  std::map<std::string, Expected> children;
  std::int64_t count = 0;  // nodes below, this one not counted
};

Expected serialWalk(const fs::path& folder, bool searchBundles, std::optional<int> levels) {
  Expected result(NodeType::directory);
  if (levels && *levels <= 0) return result;
  for (const auto& entry : fs::directory_iterator(folder)) {
    auto status = entry.symlink_status();
    std::string name = entry.path().filename().string();
    if (fs::is_regular_file(status)) {
      Expected file(NodeType::file, static_cast<std::int64_t>(entry.file_size()));
      result.size += file.size;
      result.count += 1;
      result.children.emplace(name, file);
    } else if (fs::is_directory(status)) {
      bool bundle = (name.size() > 5 && name.ends_with(".kext")) || (name.size() > 4 && name.ends_with(".app"));
      Expected sub(NodeType::directory);
      if (searchBundles || !bundle) {
        sub = serialWalk(entry.path(), searchBundles, levels ? std::optional<int>(*levels - 1) : std::nullopt);
      }
      result.size += sub.size;
      result.count += 1 + sub.count;
      result.children.emplace(name, std::move(sub));
    }
  }
  return result;
}

void expectSame(const FileNode& node, const Expected& expected, const std::string& where) {
  ASSERT_EQ(node.type(), expected.type) << where;
  ASSERT_EQ(node.size(), expected.size) << where;
  ASSERT_EQ(node.children().size(), expected.children.size()) << where;
  for (const auto& child : node.children()) {
    auto found = expected.children.find(child->name());
    ASSERT_NE(found, expected.children.end()) << where << "/" << child->name();
    ASSERT_EQ(child->parent().get(), &node);
    expectSame(*child, found->second, where + "/" + child->name());
  }
}

void makeRandomTree(ScanFixtureTree& tree, std::mt19937& random) {
  std::vector<std::string> folders{""};
  const char* names[] = {"plain", "Foo.app", "x.kext", "a b", "caf\xc3\xa9", "bad\xff", "Tool.bundle", ".hidden",
                         "new\nline", "pkg.pkg"};
  int entries = std::uniform_int_distribution<int>(20, 400)(random);
  for (int i = 0; i < entries; ++i) {
    const std::string& parent = folders[std::uniform_int_distribution<std::size_t>(0, folders.size() - 1)(random)];
    std::string name = std::string(names[random() % std::size(names)]) + std::to_string(i);
    std::string relative = parent.empty() ? name : parent + "/" + name;
    switch (random() % 10) {
      case 0: case 1: case 2:
        tree.directory(relative);
        folders.push_back(relative);
        break;
      case 3:
        tree.sparseFile(relative, static_cast<std::int64_t>(random() % 100000000));
        break;
      case 4:
        tree.symbolicLink(relative, tree.path(folders[random() % folders.size()]));
        break;
      case 5:
        if (random() % 4 == 0) {
          tree.fifo(relative);
          break;
        }
        [[fallthrough]];
      default:
        tree.file(relative, static_cast<std::int64_t>(random() % 3000));
    }
  }
}

TEST(DiskScannerTest, MapsOfRandomTreesEqualASerialWalk) {
  for (unsigned seed = 1; seed <= 8; ++seed) {
    std::mt19937 random(seed);
    ScanFixtureTree tree;
    makeRandomTree(tree, random);
    for (bool searchBundles : {false, true}) {
      for (std::optional<int> levels : {std::optional<int>(), std::optional<int>(1), std::optional<int>(3)}) {
        for (auto fanOut : {DiskScanner::FanOut::onDemand, DiskScanner::FanOut::whileSlotsFree,
                            DiskScanner::FanOut::wideParentsOnly}) {
          auto scanner = DiskScanner::make();
          scanner->setFanOut(fanOut);
          scanner->setMaxConcurrentTraversals(static_cast<int>(1 + seed % 4));
          auto result = scanner->scan(FileURL::fileURLWithPath(tree.root()),
                                      {.buildTree = true, .searchBundles = searchBundles, .depthLimit = levels});
          auto expected = serialWalk(tree.root(), searchBundles, levels ? std::optional<int>(*levels) : std::nullopt);
          std::string where = "seed " + std::to_string(seed) + (searchBundles ? " bundles" : "") +
                              (levels ? " levels " + std::to_string(*levels) : "");
          expectSame(*result->root(), expected, where);
          EXPECT_EQ(result->totalFilesScanned(), expected.count) << where;
          EXPECT_EQ(scanner->activeThreads(), 0) << where;
        }
      }
    }
  }
}

TEST(DiskScannerTest, AScannerCanBeReused) {
  ScanFixtureTree tree;
  tree.file("a", 1);
  tree.file("b/c", 2);
  auto scanner = DiskScanner::make();
  auto all = std::make_shared<FileCollector>();
  auto first = scanner->scan(FileURL::fileURLWithPath(tree.root()), {.collectors = {all}});
  auto second = scanner->scan(FileURL::fileURLWithPath(tree.path("b")), {.buildTree = true});
  EXPECT_EQ(first->totalFilesScanned(), 3);
  EXPECT_EQ(second->totalFilesScanned(), 1);
  EXPECT_EQ(second->root()->size(), 2);
  EXPECT_EQ(all->fileCount(), 3u);
}

}  // namespace

namespace {

// Records each offer as "collector:name:count", count being filesScanned at that moment.
class RecordingCollector final : public FileCollector {
 public:
  RecordingCollector(int number, std::vector<std::string>& log, std::mutex& mutex, const DiskScanner& scanner)
      : _number(number), _log(log), _mutex(mutex), _scanner(scanner) {}
  Evaluator evaluator() override {
    return [this](const std::shared_ptr<FileNode>& node) {
      std::lock_guard lock(_mutex);
      _log.push_back(fmt::format("{}:{}:{}", _number, node->name(), _scanner.filesScanned()));
      return true;
    };
  }

 private:
  int _number;
  std::vector<std::string>& _log;
  std::mutex& _mutex;
  const DiskScanner& _scanner;
};

}  // namespace

TEST(DiskScannerTest, EachNodeReachesEveryCollectorInOrderBeforeItIsCounted) {
  ScanFixtureTree tree;
  tree.file("a", 1);
  tree.file("b", 2);
  tree.file("c", 3);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(tree.root())) names.push_back(entry.path().filename().string());

  auto scanner = DiskScanner::make();
  std::vector<std::string> log;
  std::mutex mutex;
  std::vector<std::shared_ptr<FileCollector>> collectors{
      std::make_shared<RecordingCollector>(1, log, mutex, *scanner),
      std::make_shared<RecordingCollector>(2, log, mutex, *scanner)};
  auto result = scanner->scan(FileURL::fileURLWithPath(tree.root()), {.collectors = collectors});

  std::vector<std::string> expected;
  for (std::size_t i = 0; i < names.size(); ++i) {
    expected.push_back(fmt::format("1:{}:{}", names[i], i));
    expected.push_back(fmt::format("2:{}:{}", names[i], i));
  }
  EXPECT_EQ(log, expected);
  EXPECT_EQ(result->totalFilesScanned(), 3);
  EXPECT_EQ(collectors[1]->fileCount(), 3u);
}

// Hidden folders are left out whole, in both kinds of tree, while hidden files stay, and a
// hidden scan root is listed all the same.
TEST(DiskScannerTest, HiddenFoldersAreLeftOutWhenAsked) {
  ScanFixtureTree tree;
  tree.file(".config/app/settings", 100);
  tree.file("docs/.git/objects/pack", 1000);
  tree.file("docs/readme", 10);
  tree.file(".profile", 1);
  auto scanner = DiskScanner::make();
  DiskScanner::WalkOptions options;
  options.skipHiddenFolders = true;
  scanner->setWalkOptions(options);
  auto root = scanner->scan(FileURL::fileURLWithPath(tree.root()), {.buildTree = true})->root();
  EXPECT_FALSE(child(root, ".config"));
  EXPECT_FALSE(child(child(root, "docs"), ".git"));
  EXPECT_EQ(root->size(), 11);
  auto map = scanner->scanMap(FileURL::fileURLWithPath(tree.root()));
  EXPECT_EQ(map->count(), 4u);  // the root, docs, docs/readme and .profile
  EXPECT_EQ(scanner->scanMap(FileURL::fileURLWithPath(tree.path(".config")))->count(), 3u);
  EXPECT_EQ(DiskScanner::make()->scan(FileURL::fileURLWithPath(tree.root()), {.buildTree = true})->root()->size(), 1111);
}
