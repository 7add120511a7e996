#include "vantelkit/scanning/DiskMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <chrono>
#include <random>
#include <set>

#include "support/FaultInjectingDirectoryReader.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/scanning/DiskScanner.h"

using namespace vantelkit;
using vantel::testing::FaultInjectingDirectoryReader;
using vantel::testing::ScanFixtureTree;
using Index = DiskMap::Index;

namespace {

// A random tree with what a walk treats specially: bundles, links, pipes, hard links, cache
// folders (real and fake tags), names that are not UTF-8 and names that sort around "/".
void makeRandomTree(ScanFixtureTree& tree, std::mt19937& random, std::vector<std::string>& files) {
  std::vector<std::string> folders{""};
  const char* names[] = {"plain", "Foo.app", "x.kext", "a b", "caf\xc3\xa9", "bad\xff", "a.txt", "a-b", "a", "o.o"};
  int entries = std::uniform_int_distribution<int>(30, 300)(random);
  for (int i = 0; i < entries; ++i) {
    const std::string& parent = folders[std::uniform_int_distribution<std::size_t>(0, folders.size() - 1)(random)];
    std::string name = std::string(names[random() % std::size(names)]) + std::to_string(i % 7);
    std::string relative = parent.empty() ? name : parent + "/" + name;
    if (std::filesystem::exists(std::filesystem::path(tree.path(relative)))) continue;
    switch (random() % 12) {
      case 0: case 1: case 2:
        tree.directory(relative);
        folders.push_back(relative);
        break;
      case 3:
        tree.symbolicLink(relative, tree.path(folders[random() % folders.size()]));
        break;
      case 4:
        if (!files.empty()) {
          tree.hardLink(relative, files[random() % files.size()]);
          break;
        }
        [[fallthrough]];
      case 5:
        if (random() % 3 == 0) {
          tree.fifo(relative);
          break;
        }
        [[fallthrough]];
      case 6:
        if (random() % 3 == 0) {
          tree.file(relative + "/CACHEDIR.TAG", 0);
          if (random() % 2 == 0) {
            std::FILE* tag = std::fopen(tree.path(relative + "/CACHEDIR.TAG").c_str(), "w");
            std::fputs("Signature: 8a477f597d28d172789f06886806bc55\n", tag);
            std::fclose(tag);
          }
          tree.file(relative + "/held", 77);
          break;
        }
        [[fallthrough]];
      default:
        files.push_back(relative);
        tree.file(relative, static_cast<std::int64_t>(random() % 5000));
    }
  }
}

DiskScanner::MapChoices choices(bool fileSizes, bool namesInOrder) {
  DiskScanner::MapChoices choices;
  choices.fileSizes = fileSizes;
  choices.namesInOrder = namesInOrder;
  return choices;
}

const DiskMap::Entry* childNamed(const DiskMap& map, Index folder, std::string_view name, Index* found = nullptr) {
  const auto& entry = map[folder];
  for (Index i = 0; i < entry.childCount; ++i) {
    if (map[entry.firstChild + i].nameView() == name) {
      if (found) *found = entry.firstChild + i;
      return &map[entry.firstChild + i];
    }
  }
  return nullptr;
}

bool isFileOrFolder(const DiskMap::Entry& entry) {
  return entry.isDirectory() || entry.nodeType() == FileNode::NodeType::file;
}

// An entry's size and usage without what is summed into it.
std::pair<std::int64_t, std::int64_t> ownSizes(const DiskMap& map, Index index) {
  std::int64_t size = map[index].size, usage = map[index].usage;
  if (!map[index].isDirectory()) return {size, usage};
  for (Index child : map.children(index)) {
    if (map[child].hasMark(FileNode::duplicateLink)) continue;
    size -= map[child].size;
    usage -= map[child].usage;
  }
  return {size, usage};
}

// What a FileNode tree counts of an entry: regular files only.
std::pair<std::int64_t, std::int64_t> fileSizes(const DiskMap& map, Index index) {
  const auto& entry = map[index];
  if (!entry.isDirectory()) return isFileOrFolder(entry) ? std::pair(entry.size, entry.usage) : std::pair(0l, 0l);
  std::pair<std::int64_t, std::int64_t> sum{0, 0};
  for (Index child : map.children(index)) {
    if (map[child].hasMark(FileNode::duplicateLink)) continue;
    auto [size, usage] = fileSizes(map, child);
    sum.first += size;
    sum.second += usage;
  }
  return sum;
}

// What the map holds beyond a FileNode tree: folders' own sizes, and the links, devices,
// pipes and sockets with theirs.
struct Extras {
  std::int64_t size = 0, usage = 0, entries = 0;
};
Extras extrasOf(const DiskMap& map) {
  Extras extras;
  for (Index i = 0; i < map.count(); ++i) {
    if (map[i].nodeType() == FileNode::NodeType::file || map[i].hasMark(FileNode::duplicateLink)) continue;
    auto [size, usage] = ownSizes(map, i);
    extras.size += size;
    extras.usage += usage;
    extras.entries += map[i].isDirectory() ? 0 : 1;
  }
  return extras;
}

// Every node of tree has its entry in map with the same name, type, file sizes, marks and
// error, its children as a contiguous run; and nothing more but entries of other kinds.
void expectSameTree(const FileNode& node, const DiskMap& map, Index index, const std::string& where) {
  const auto& entry = map[index];
  ASSERT_EQ(entry.nameView(), node.name()) << where;
  ASSERT_EQ(entry.nodeType(), node.type()) << where;
  ASSERT_EQ(fileSizes(map, index), std::pair(node.size(), node.usage())) << where;
  // partlyRead is the map's own summary of what is below.
  ASSERT_EQ(entry.marks & ~FileNode::partlyRead, node.marks()) << where;
  ASSERT_EQ(entry.error, node.error()) << where;
  std::size_t filesAndFolders = 0;
  for (Index child : map.children(index)) filesAndFolders += isFileOrFolder(map[child]) ? 1 : 0;
  ASSERT_EQ(filesAndFolders, node.children().size()) << where;
  for (Index i = 0; i < entry.childCount; ++i) {
    Index child = entry.firstChild + i;
    ASSERT_GT(child, index) << where;
    ASSERT_EQ(map[child].parent, index) << where;
  }
  if (map.namesInOrder()) {
    for (Index i = 1; i < entry.childCount; ++i)
      ASSERT_LT(std::strcmp(map[entry.firstChild + i - 1].name, map[entry.firstChild + i].name), 0) << where;
  }
  for (const auto& child : node.children()) {
    Index found = 0;
    ASSERT_TRUE(childNamed(map, index, child->name(), &found)) << where << "/" << child->name();
    expectSameTree(*child, map, found, where + "/" + child->name());
  }
}

void expectSameFigures(const DiskScanResult& result, const DiskMap& map, const std::string& where) {
  const Extras extras = extrasOf(map);
  EXPECT_EQ(map.totalSize(), result.totalSize() + extras.size) << where;
  EXPECT_EQ(map.totalUsage(), result.totalUsage() + extras.usage) << where;
  EXPECT_EQ(map.totalFilesScanned(), result.totalFilesScanned() + extras.entries) << where;
  EXPECT_EQ(map.count(), static_cast<std::size_t>(result.totalFilesScanned() + extras.entries) + 1) << where;
  EXPECT_EQ(map.unreadableEntries(), result.unreadableEntries()) << where;
  EXPECT_EQ(map.hardLinksCountedOnce(), result.hardLinksCountedOnce()) << where;
  ASSERT_EQ(map.hardLinks().size(), result.hardLinks().size()) << where;
  for (std::size_t i = 0; i < map.hardLinks().size(); ++i) {
    const auto& ours = map.hardLinks()[i];
    const auto& theirs = result.hardLinks()[i];
    EXPECT_EQ(map.path(ours.entry), theirs.node->url().path()) << where;
    EXPECT_EQ(ours.inode, theirs.inode) << where;
    EXPECT_EQ(ours.device, theirs.device) << where;
    EXPECT_EQ(ours.linkCount, theirs.linkCount) << where;
  }
}

}  // namespace

TEST(DiskMapTest, MapsOfRandomTreesEqualTheFileNodeTree) {
  for (unsigned seed = 1; seed <= 10; ++seed) {
    std::mt19937 random(seed);
    ScanFixtureTree tree;
    std::vector<std::string> files;
    makeRandomTree(tree, random, files);
    DiskScanner::WalkOptions options;
    options.countHardLinksOnce = seed % 2 == 0;
    options.excludeCaches = seed % 3 != 0;
    if (seed % 4 == 1) options.excludes = {"*.txt", "plain1/*"};
    for (std::optional<int> levels : {std::optional<int>(), std::optional<int>(2)}) {
      for (bool searchBundles : {false, true}) {
        std::string where = "seed " + std::to_string(seed) + (levels ? " levels 2" : "") +
                            (searchBundles ? " bundles" : "");
        auto scanner = DiskScanner::make();
        scanner->setWalkOptions(options);
        scanner->setMaxConcurrentTraversals(static_cast<int>(1 + seed % 4));
        scanner->setFanOut(seed % 2 ? DiskScanner::FanOut::whileSlotsFree : DiskScanner::FanOut::onDemand);
        auto result = scanner->scan(FileURL::fileURLWithPath(tree.root()),
                                    {.buildTree = true, .searchBundles = searchBundles, .depthLimit = levels});
        auto map = scanner->scanMap(FileURL::fileURLWithPath(tree.root()),
                                    {.searchBundles = searchBundles,
                                     .depthLimit = levels,
                                     .choices = choices(true, seed % 2 == 0)});
        EXPECT_TRUE(map->isComplete());
        EXPECT_EQ(map->rootPath(), result->root()->url().path());
        expectSameTree(*result->root(), *map, DiskMap::rootIndex, where);
        expectSameFigures(*result, *map, where);
        EXPECT_EQ(scanner->activeThreads(), 0) << where;

        // The same map made from the FileNode tree.
        auto copied = DiskMap::fromTree(*result->root(), result.get());
        expectSameTree(*result->root(), *copied, DiskMap::rootIndex, where + " (copied)");
        expectSameFigures(*result, *copied, where + " (copied)");
      }
    }
  }
}

TEST(DiskMapTest, FaultsAreMarkedAsInTheFileNodeTree) {
  ScanFixtureTree tree;
  tree.file("open/a", 10);
  tree.file("locked/secret", 500);
  tree.file("broken/one", 1);
  tree.file("broken/two", 2);
  tree.file("broken/three", 3);
  tree.file("nostatus", 9);
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  reader->failOpen(tree.path("locked"));
  reader->failReadAfter(tree.path("broken"), 1);
  reader->failStatus(tree.path("nostatus"));
  auto scanner = DiskScanner::make({}, reader);
  auto result = scanner->scan(FileURL::fileURLWithPath(tree.root()), {.buildTree = true});
  auto map = scanner->scanMap(FileURL::fileURLWithPath(tree.root()));
  expectSameTree(*result->root(), *map, DiskMap::rootIndex, "faults");
  expectSameFigures(*result, *map, "faults");
  EXPECT_EQ(map->unreadableCount(), 3u);
  const auto* locked = childNamed(*map, DiskMap::rootIndex, "locked");
  ASSERT_TRUE(locked);
  EXPECT_TRUE(locked->hasMark(FileNode::unreadable));
  EXPECT_EQ(locked->childCount, 0u);
}

TEST(DiskMapTest, EachListedFolderReportsTheNewestModificationAmongItsEntries) {
  ScanFixtureTree tree;
  tree.file("a/old", 10);
  tree.file("a/new", 10);
  tree.file("a/sub/deep", 10);
  tree.directory("empty");
  tree.symbolicLink("b/link", "/nonexistent");
  auto at = [](std::int64_t seconds) { return std::filesystem::file_time_type::clock::from_sys(
                                           std::chrono::sys_seconds(std::chrono::seconds(seconds))); };
  std::filesystem::last_write_time(tree.path("a/old"), at(1'000'000));
  std::filesystem::last_write_time(tree.path("a/new"), at(1'700'000'000));
  std::filesystem::last_write_time(tree.path("a/sub/deep"), at(1'500'000'000));
  std::filesystem::last_write_time(tree.path("a/sub"), at(1'600'000'000));  // a folder's own time counts in its parent
  std::mutex mutex;
  std::map<std::string, std::int64_t> newest;
  auto scanner = DiskScanner::make();
  DiskScanner::MapRequest request;
  std::shared_ptr<DiskMap> map;
  request.choices.listed = [&](Index folder, std::int64_t modified) {
    std::lock_guard lock(mutex);
    newest.emplace(std::to_string(folder), modified);
  };
  map = scanner->scanMap(FileURL::fileURLWithPath(tree.root()), std::move(request));
  std::map<std::string, std::int64_t> byPath;
  for (const auto& [index, modified] : newest) byPath[map->relativePath(static_cast<Index>(std::stoul(index)))] = modified;
  EXPECT_EQ(byPath["a"], 1'700'000'000);
  EXPECT_EQ(byPath["a/sub"], 1'500'000'000);
  EXPECT_GT(byPath["b"], 0);  // a link's own time
  EXPECT_FALSE(byPath.contains("empty"));
  EXPECT_TRUE(byPath.contains(""));
}

TEST(DiskMapTest, HardLinksCountOnceInFoldersAndTotals) {
  ScanFixtureTree tree;
  tree.file("a/original", 4096);
  tree.hardLink("b/second", "a/original");
  tree.hardLink("c/third", "a/original");
  tree.file("c/single", 100);
  auto scanner = DiskScanner::make();
  DiskScanner::WalkOptions options;
  options.countHardLinksOnce = true;
  scanner->setWalkOptions(options);
  auto map = scanner->scanMap(FileURL::fileURLWithPath(tree.root()));
  EXPECT_EQ(fileSizes(*map, DiskMap::rootIndex).first, 4096 + 100);
  EXPECT_EQ(map->totalSize(), map->root().size);
  Index b = 0;
  childNamed(*map, DiskMap::rootIndex, "b", &b);
  EXPECT_EQ(fileSizes(*map, b).first, 0);
  EXPECT_TRUE(childNamed(*map, b, "second")->hasMark(FileNode::duplicateLink));
  EXPECT_EQ(childNamed(*map, b, "second")->size, 4096);  // its own size stays
  ASSERT_EQ(map->hardLinks().size(), 3u);
  EXPECT_EQ(map->path(map->hardLinks()[0].entry), tree.path("a/original"));
}

TEST(DiskMapTest, NamesAndTypesOnlyReadsNoSizesButFindsEverything) {
  ScanFixtureTree tree;
  tree.file("f", 123);
  tree.file("d/g", 456);
  tree.directory("d/e");
  tree.symbolicLink("link", tree.path("d"));
  auto scanner = DiskScanner::make();
  auto full = scanner->scanMap(FileURL::fileURLWithPath(tree.root()), {.searchBundles = true});
  auto names =
      scanner->scanMap(FileURL::fileURLWithPath(tree.root()), {.searchBundles = true, .choices = choices(false, false)});
  EXPECT_TRUE(full->hasFileSizes());
  EXPECT_FALSE(names->hasFileSizes());
  ASSERT_EQ(names->count(), full->count());
  EXPECT_EQ(fileSizes(*full, DiskMap::rootIndex).first, 123 + 456);
  std::set<std::pair<std::string, int>> fullEntries, nameEntries;
  for (Index i = 1; i < full->count(); ++i) fullEntries.emplace(full->relativePath(i), (*full)[i].type);
  for (Index i = 1; i < names->count(); ++i) nameEntries.emplace(names->relativePath(i), (*names)[i].type);
  EXPECT_EQ(nameEntries, fullEntries);
  // Every file reads as empty, the one whose status was read to probe the folder too.
  EXPECT_EQ(names->root().size, 0);
  EXPECT_EQ(names->totalSize(), 0);
  EXPECT_EQ(nameEntries.count({"link", static_cast<int>(FileNode::NodeType::link)}), 1u);
}

TEST(DiskMapTest, HoldsEveryKindWithItsOwnSizeAndFoldersWithTheirs) {
  ScanFixtureTree tree;
  tree.file("f", 10);
  tree.directory("d/empty");
  tree.symbolicLink("d/link", "../f");  // its own size is its target's length, 4
  tree.fifo("pipe");
  const bool socket = tree.socket("d/socket");
  auto map = DiskScanner::make()->scanMap(FileURL::fileURLWithPath(tree.root()));
  Index d = 0;
  ASSERT_TRUE(childNamed(*map, DiskMap::rootIndex, "d", &d));
  const auto* link = childNamed(*map, d, "link");
  ASSERT_TRUE(link);
  EXPECT_EQ(link->nodeType(), FileNode::NodeType::link);
  EXPECT_EQ(link->size, 4);
  EXPECT_EQ(childNamed(*map, DiskMap::rootIndex, "pipe")->nodeType(), FileNode::NodeType::fifo);
  if (socket) {
    EXPECT_EQ(childNamed(*map, d, "socket")->nodeType(), FileNode::NodeType::socket);
  }
  // Each folder counts its own status beneath what it holds.
  auto own = [&tree](std::string_view relative) { return platform::pathStatus(tree.path(relative), false).ownSize; };
  EXPECT_GT(own("d/empty"), 0);
  EXPECT_EQ(childNamed(*map, d, "empty")->size, own("d/empty"));
  EXPECT_EQ((*map)[d].size, own("d") + own("d/empty") + 4 + (socket ? own("d/socket") : 0));
  EXPECT_EQ(map->root().size, platform::pathStatus(tree.root(), false).ownSize + 10 + (*map)[d].size + own("pipe"));
  EXPECT_EQ(map->totalSize(), map->root().size);
  EXPECT_EQ(map->totalFilesScanned(), socket ? 6 : 5);
  // A scan without a map counts the same totals when asked to, as du does.
  auto scanner = DiskScanner::make();
  scanner->setWalkOptions({.countOwnSizes = true});
  auto counted = scanner->scan(FileURL::fileURLWithPath(tree.root()), {});
  EXPECT_EQ(std::pair(counted->totalSize(), counted->totalUsage()), std::pair(map->totalSize(), map->totalUsage()));
}

TEST(DiskMapTest, ACancelledScanGivesAConsistentPartialMap) {
  ScanFixtureTree tree;
  for (int i = 0; i < 40; ++i) tree.file("d" + std::to_string(i) + "/sub/f", 10);
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  std::weak_ptr<DiskScanner> weak;
  std::atomic<int> listings{0};
  reader->setBeforeListing([&](const std::string&) {
    if (listings.fetch_add(1) == 10) {
      if (auto scanner = weak.lock()) scanner->cancel();
    }
  });
  auto scanner = DiskScanner::make({}, reader);
  weak = scanner;
  auto map = scanner->scanMap(FileURL::fileURLWithPath(tree.root()));
  EXPECT_FALSE(map->isComplete());
  EXPECT_LT(map->count(), 1u + 40 * 3);
  // Folder sums agree with the entries the map holds.
  std::int64_t held = 0;
  for (Index i = 0; i < map->count(); ++i) held += ownSizes(*map, i).first;
  EXPECT_EQ(map->root().size, held);
  EXPECT_EQ(map->totalSize(), held);
  // Every folder here holds something: one left empty was not listed, and says so.
  std::size_t notListed = 0;
  for (Index i = 1; i < map->count(); ++i) {
    const auto& entry = (*map)[i];
    if (!entry.isDirectory()) continue;
    EXPECT_EQ(entry.childCount == 0, entry.hasMark(FileNode::notListed)) << map->path(i);
    notListed += entry.hasMark(FileNode::notListed) ? 1 : 0;
  }
  EXPECT_GT(notListed, 0u);
  EXPECT_EQ(map->notListedCount(), notListed);
  EXPECT_TRUE(map->root().hasMark(FileNode::partlyRead));
  // The scanner is ready again.
  listings = 1000;
  auto whole = scanner->scanMap(FileURL::fileURLWithPath(tree.root()));
  EXPECT_TRUE(whole->isComplete());
  EXPECT_EQ(whole->count(), 1u + 40 * 3);
}

TEST(DiskMapTest, PathsAndMemory) {
  ScanFixtureTree tree;
  tree.file("x/y/z", 1);
  auto scanner = DiskScanner::make();
  auto map = scanner->scanMap(FileURL::fileURLWithPath(tree.root()));
  Index x = 0, y = 0, z = 0;
  ASSERT_TRUE(childNamed(*map, DiskMap::rootIndex, "x", &x));
  ASSERT_TRUE(childNamed(*map, x, "y", &y));
  ASSERT_TRUE(childNamed(*map, y, "z", &z));
  EXPECT_EQ(map->path(z), tree.path("x/y/z"));
  EXPECT_EQ(map->relativePath(z), "x/y/z");
  EXPECT_EQ(map->path(DiskMap::rootIndex), map->rootPath());
  EXPECT_EQ(map->relativePath(DiskMap::rootIndex), "");
  EXPECT_GT(map->memoryUsed(), 3 * sizeof(DiskMap::Entry));
  static_assert(sizeof(DiskMap::Entry) == 40);

  // A map of "/" gives paths without a doubled slash.
  DiskMap root(FileURL::fileURLWithPath("/"));
  EXPECT_EQ(root.count(), 1u);
  EXPECT_EQ(root.root().nameView(), "/");
  auto block = root.reserve(1, 4);
  ASSERT_TRUE(block.reserved);
  std::memcpy(block.names, "usr", 4);
  root.at(0).firstChild = 1;
  root.at(0).childCount = 1;
  root.at(1) = {0, 0, block.names, 0, 0, 0, static_cast<std::uint8_t>(FileNode::NodeType::directory), 0, 0};
  EXPECT_EQ(root.path(1), "/usr");
}

namespace {

// A map of a chain of folders levels deep ("d/d/d/..."), a file at its bottom and a few
// siblings at its top whose names sort around "/".
std::shared_ptr<DiskMap> chainMap(std::size_t levels) {
  auto map = std::make_shared<DiskMap>(FileURL::fileURLWithPath("/chain", true));
  auto add = [&map](Index folder, std::vector<std::pair<std::string, FileNode::NodeType>> children) {
    std::size_t nameBytes = 0;
    for (const auto& child : children) nameBytes += child.first.size() + 1;
    auto block = map->reserve(children.size(), nameBytes);
    char* name = block.names;
    for (std::size_t i = 0; i < children.size(); ++i) {
      std::memcpy(name, children[i].first.c_str(), children[i].first.size() + 1);
      const std::int64_t size = children[i].second == FileNode::NodeType::file ? 1 : 0;
      map->at(static_cast<Index>(block.first + i)) =
          DiskMap::Entry{size, size, name, folder, 0, 0, static_cast<std::uint8_t>(children[i].second), 0, 0};
      name += children[i].first.size() + 1;
    }
    map->at(folder).firstChild = block.first;
    map->at(folder).childCount = static_cast<Index>(children.size());
    return block.first;
  };
  using Type = FileNode::NodeType;
  Index folder = add(DiskMap::rootIndex, {{"d", Type::directory}, {"d.txt", Type::file}, {"c", Type::file}});
  for (std::size_t level = 1; level < levels; ++level) folder = add(folder, {{"d", Type::directory}});
  add(folder, {{"bottom", Type::file}});
  map->setFigures(0, 0, {}, true, 0, static_cast<std::int64_t>(map->count()) - 1, true, false);
  map->sumFolders();
  return map;
}

}  // namespace

TEST(DiskMapTest, VisitsWalkAChainOfAnyDepthWithoutRecursion) {
  const std::size_t levels = 300000;  // far more than a recursive walk's stack would hold
  auto map = chainMap(levels);
  EXPECT_EQ(map->root().size, 3);

  std::size_t entered = 0, left = 0, deepest = 0;
  std::vector<std::string> top;
  std::vector<Index> leftOrder;
  map->visit(
      DiskMap::rootIndex, DiskMap::Order::name,
      [&](Index index, std::size_t depth) {
        ++entered;
        deepest = std::max(deepest, depth);
        if (depth == 1) top.emplace_back((*map)[index].nameView());
        return (*map)[index].isDirectory();
      },
      [&](Index index, std::size_t depth) {
        if (left++ == 0) {
          EXPECT_EQ(depth, levels);
        }
        leftOrder.push_back(index);
      });
  EXPECT_EQ(entered, map->count());
  EXPECT_EQ(left, levels + 1);  // every folder, the root included, deepest first
  EXPECT_EQ(leftOrder.back(), DiskMap::rootIndex);
  EXPECT_EQ(deepest, levels + 1);
  EXPECT_EQ(top, (std::vector<std::string>{"c", "d", "d.txt"}));

  // In path order, "d.txt" comes before what is below "d/"; the bottom file's path is whole.
  std::vector<std::string> shallow;
  std::size_t longest = 0;
  map->visitInPathOrder(DiskMap::rootIndex, "/chain/", [&](Index index, const std::string& path) {
    if (path.size() < 13) shallow.push_back(path);
    if ((*map)[index].nameView() == "bottom") longest = path.size();
    return true;
  });
  EXPECT_EQ(shallow, (std::vector<std::string>{"/chain/c", "/chain/d", "/chain/d.txt", "/chain/d/d", "/chain/d/d/d"}));
  EXPECT_EQ(longest, std::string("/chain/").size() + 2 * levels + std::string("bottom").size());

  // A visitor that keeps out of a folder sees nothing below it; an arranged walk sees only
  // the children it is given.
  std::size_t seen = 0;
  map->visitInPathOrder(DiskMap::rootIndex, "", [&](Index, const std::string& path) {
    ++seen;
    return path != "d";
  });
  EXPECT_EQ(seen, 3u);
  seen = 0;
  map->visitArranged(
      DiskMap::rootIndex,
      [&](Index folder, std::vector<Index>& children) {
        for (Index child : map->children(folder))
          if ((*map)[child].isDirectory()) children.push_back(child);
      },
      [&](Index, std::size_t) { return ++seen < 10; }, [](Index, std::size_t) {});
  EXPECT_EQ(seen, 10u);
}

TEST(DiskMapTest, ChildrenComeAsARunOrByName) {
  auto map = chainMap(1);
  auto run = map->children(DiskMap::rootIndex);
  ASSERT_EQ(run.size(), 3u);
  std::vector<std::string> listed;
  for (Index child : run) listed.emplace_back((*map)[child].nameView());
  EXPECT_EQ(listed, (std::vector<std::string>{"d", "d.txt", "c"}));
  std::vector<Index> byName{42};
  map->childrenByName(DiskMap::rootIndex, byName);
  EXPECT_EQ(byName, (std::vector<Index>{run[2], run[0], run[1]}));
  EXPECT_TRUE(map->children(run[2]).empty());
}
