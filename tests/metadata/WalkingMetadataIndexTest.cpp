#include "vantelkit/metadata/WalkingMetadataIndex.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "metadata/MetadataTestSupport.h"
#include "support/FaultInjectingDirectoryReader.h"
#include "support/ScanFixtureTree.h"

namespace vantelkit {
namespace {

using testing::GatherResult;
using testing::sortedPaths;
using vantel::testing::FaultInjectingDirectoryReader;
using vantel::testing::ScanFixtureTree;

MetadataIndex::Items gather(MetadataIndex& index, std::string_view predicate, std::vector<std::string> scopes) {
  GatherResult result;
  index.gather(MetadataPredicate::fromFormat(predicate), scopes, result.completion());
  auto items = result.wait();
  EXPECT_TRUE(items) << "no answer";
  return items ? *items : MetadataIndex::Items{};
}

TEST(WalkingMetadataIndexTest, IndexesWhatThePlatformIndexWouldButNotHiddenFoldersOrBundleInsides) {
  ScanFixtureTree tree;
  tree.file("Setup.pkg", 300);
  tree.file("docs/Manual.PKG", 200);
  tree.file(".hidden-file.pkg", 5);
  tree.file(".cache/Inside.pkg", 7);
  tree.file("docs/.git/objects/Deep.pkg", 7);
  tree.file("Tool.app/Contents/Resources/Bundled.pkg", 9);
  tree.directory("Folder.pkg");
  tree.symbolicLink("Link.pkg", "Setup.pkg");
  tree.symbolicLink("linked-docs", "docs");
  tree.fifo("Pipe.pkg");
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  auto index = WalkingMetadataIndex::make(reader);

  auto items = gather(*index, "_kMDItemFileName LIKE[cd] '*.pkg'", {tree.root()});
  EXPECT_EQ(sortedPaths(items), (std::vector<std::string>{tree.path(".hidden-file.pkg"), tree.path("Folder.pkg"),
                                                          tree.path("Setup.pkg"), tree.path("docs/Manual.PKG")}));
  // Listed: the scope, docs and Folder.pkg; not .cache, docs/.git, the bundle or the link.
  EXPECT_EQ(reader->listings(), 3);
  for (const auto& item : items) {
    auto path = std::get<std::string>(*item->valueForAttribute("kMDItemPath"));
    auto size = std::get<std::int64_t>(*item->valueForAttribute("kMDItemFSSize"));
    auto name = std::get<std::string>(*item->valueForAttribute("kMDItemFSName"));
    EXPECT_EQ(path.substr(path.rfind('/') + 1), name);
    EXPECT_EQ(std::get<std::string>(*item->valueForAttribute("kMDItemDisplayName")), name);
    // A folder's size is 0, as the scanning engine counts it.
    EXPECT_EQ(size, name == "Folder.pkg" ? 0 : name == "Setup.pkg" ? 300 : name == "Manual.PKG" ? 200 : 5);
  }
  // The bundle itself is indexed.
  EXPECT_EQ(sortedPaths(gather(*index, "kMDItemFSName ENDSWITH '.app'", {tree.root()})),
            (std::vector<std::string>{tree.path("Tool.app")}));
}

TEST(WalkingMetadataIndexTest, ScopesThatOverlapOrAreMissingAddNothingTwice) {
  ScanFixtureTree tree;
  tree.file("a/big", 2000);
  tree.file("a/b/bigger", 3000);
  tree.file("small", 1);
  auto index = WalkingMetadataIndex::make();
  auto items = gather(*index, "kMDItemFSSize > 1000",
                      {tree.root(), tree.path("a"), tree.root() + "//", tree.path("missing")});
  EXPECT_EQ(sortedPaths(items), (std::vector<std::string>{tree.path("a/b/bigger"), tree.path("a/big")}));
  EXPECT_TRUE(gather(*index, "kMDItemFSSize > 1000", {}).empty());
  EXPECT_TRUE(gather(*index, "kMDItemFSSize > 1000", {tree.path("missing")}).empty());
}

TEST(WalkingMetadataIndexTest, FoldersThatCannotBeReadAreReportedOnceWithTheAnswer) {
  ScanFixtureTree tree;
  tree.file("open/big", 2000);
  tree.file("locked/big", 2000);
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  reader->failOpen(tree.path("locked"));
  auto index = WalkingMetadataIndex::make(reader);
  GatherResult result;
  index->gather(MetadataPredicate::fromFormat("kMDItemFSSize > 1000"), {tree.root(), tree.path("locked")},
                result.completion());
  auto items = result.wait();
  ASSERT_TRUE(items);
  EXPECT_EQ(sortedPaths(*items), (std::vector<std::string>{tree.path("open/big")}));
  auto unreadable = result.unreadable();
  ASSERT_EQ(unreadable.size(), 1u);
  EXPECT_EQ(unreadable[0].path, tree.path("locked"));
  EXPECT_EQ(platform::errorCodeFromNumber(unreadable[0].error), std::errc::permission_denied);
  EXPECT_TRUE(unreadable[0].isDirectory);
}

TEST(WalkingMetadataIndexTest, ReadsModificationDatesOnlyWhenAsked) {
  ScanFixtureTree tree;
  tree.file("recent", 1);
  auto index = WalkingMetadataIndex::make();
  EXPECT_EQ(gather(*index, "kMDItemContentModificationDate > $time.now(-3600)", {tree.root()}).size(), 1u);
  EXPECT_TRUE(gather(*index, "kMDItemContentModificationDate > $time.now(3600)", {tree.root()}).empty());
}


MetadataIndex::Items gatherWith(MetadataIndex& index, std::string_view predicate, std::vector<std::string> scopes,
                                MetadataSearchOptions options, MetadataIndex::Unreadable* unreadable = nullptr) {
  GatherResult result;
  index.gatherWithOptions(MetadataPredicate::fromFormat(predicate), scopes, options, result.completion());
  auto items = result.wait();
  EXPECT_TRUE(items) << "no answer";
  if (unreadable) *unreadable = result.unreadable();
  return items ? *items : MetadataIndex::Items{};
}

std::int64_t sizeOf(const MetadataItem& item) { return std::get<std::int64_t>(*item.valueForAttribute("kMDItemFSSize")); }

// The size of each item, by path.
std::map<std::string, std::int64_t> sizesByPath(const MetadataIndex::Items& items) {
  std::map<std::string, std::int64_t> sizes;
  for (const auto& item : items) sizes[std::get<std::string>(*item->valueForAttribute("kMDItemPath"))] = sizeOf(*item);
  return sizes;
}

TEST(WalkingMetadataIndexTest, HiddenFoldersAreSearchedOnlyWhenAsked) {
  ScanFixtureTree tree;
  tree.file("Setup.pkg", 300);
  tree.file(".hidden-file.pkg", 5);
  tree.file(".local/share/Trash/files/Old.pkg", 400);
  tree.file("docs/.git/Deep.pkg", 7);
  tree.file("Tool.app/Contents/Bundled.pkg", 9);
  tree.directory(".stash.pkg");
  tree.file(".cache/locked/x", 1);
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  reader->failOpen(tree.path(".cache/locked"));
  const MetadataSearchOptions hidden{.entersHiddenFolders = true};
  const std::vector<std::string> visible{tree.path(".hidden-file.pkg"), tree.path("Setup.pkg")};

  // Asked first, a walk that enters hidden folders answers later queries that do not, as if
  // it had not entered them, unreadable folders in there included.
  auto index = WalkingMetadataIndex::make(reader, 60.0);
  MetadataIndex::Unreadable unreadable;
  EXPECT_EQ(sortedPaths(gatherWith(*index, "_kMDItemFileName LIKE[cd] '*.pkg'", {tree.root()}, hidden, &unreadable)),
            (std::vector<std::string>{tree.path(".hidden-file.pkg"), tree.path(".local/share/Trash/files/Old.pkg"),
                                      tree.path(".stash.pkg"), tree.path("Setup.pkg"), tree.path("docs/.git/Deep.pkg")}));
  ASSERT_EQ(unreadable.size(), 1u);
  EXPECT_EQ(unreadable[0].path, tree.path(".cache/locked"));
  EXPECT_EQ(sortedPaths(gatherWith(*index, "_kMDItemFileName LIKE[cd] '*.pkg'", {tree.root()}, {}, &unreadable)),
            visible);
  EXPECT_TRUE(unreadable.empty());
  EXPECT_EQ(index->walksStarted(), 1);

  // Asked first, a walk that leaves them out does not answer a query that enters them.
  auto other = WalkingMetadataIndex::make(reader, 60.0);
  EXPECT_EQ(sortedPaths(gather(*other, "kMDItemFSSize > 100", {tree.root()})), (std::vector<std::string>{tree.path("Setup.pkg")}));
  auto large = gatherWith(*other, "kMDItemFSSize > 100", {tree.root()}, hidden);
  EXPECT_EQ(sizesByPath(large), (std::map<std::string, std::int64_t>{
                                    {tree.path(".local/share/Trash/files/Old.pkg"), 400}, {tree.path("Setup.pkg"), 300}}));
  EXPECT_EQ(other->walksStarted(), 2);
}

// A predicate on names reads no file status as the walk lists: only the results' sizes are
// read. A query on sizes that finds such a walk reads every size once, for every query after
// it too.
TEST(WalkingMetadataIndexTest, ReadsOnlyTheStatusesThatAQueryNeeds) {
  ScanFixtureTree tree;
  for (int i = 0; i < 5; ++i) {
    auto folder = "f" + std::to_string(i) + "/";
    tree.file(folder + "a.log", 2000 + i);
    tree.file(folder + "b.txt", 10);
    tree.file(folder + "c.dmg", 20 + i);
  }
  tree.directory("folder.log");
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  auto index = WalkingMetadataIndex::make(reader, 60.0);
  auto logs = gather(*index, "_kMDItemFileName LIKE[cd] '*.log'", {tree.root()});
  EXPECT_EQ(reader->statusListings(), 0);
  EXPECT_LE(reader->statusesRead(), 5);  // the logs the listings did not read first anyway
  auto sizes = sizesByPath(logs);
  ASSERT_EQ(sizes.size(), 6u);
  EXPECT_EQ(sizes[tree.path("folder.log")], 0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(sizes[tree.path("f" + std::to_string(i) + "/a.log")], 2000 + i);

  // Another name query on the same walk reads the sizes of its own results.
  const int before = reader->statusesRead();
  auto images = sizesByPath(gather(*index, "kMDItemFSName ENDSWITH '.dmg'", {tree.root()}));
  EXPECT_EQ(reader->statusesRead(), before + 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(images[tree.path("f" + std::to_string(i) + "/c.dmg")], 20 + i);

  // Sizes: every file is read once, then never again.
  EXPECT_EQ(gather(*index, "kMDItemFSSize > 1000", {tree.root()}).size(), 5u);
  EXPECT_EQ(reader->statusesRead(), before + 5 + 15);
  EXPECT_EQ(gather(*index, "kMDItemFSSize < 15", {tree.root()}).size(), 5u + 6u);  // the b.txt files and the folders
  EXPECT_EQ(gather(*index, "_kMDItemFileName LIKE '*.txt'", {tree.root()}).size(), 5u);
  EXPECT_EQ(reader->statusesRead(), before + 5 + 15);
  EXPECT_EQ(index->walksStarted(), 1);
  EXPECT_EQ(reader->statusListings(), 0);

  // A walk started for sizes reads them as it lists.
  auto sized = WalkingMetadataIndex::make(reader, 60.0);
  EXPECT_EQ(gather(*sized, "kMDItemFSSize > 1000", {tree.root()}).size(), 5u);
  EXPECT_GT(reader->statusListings(), 0);
}

// Files whose status cannot be read are reported and answered with size 0; files that went
// away since the walk listed them are left out, whether a result or a size query finds out.
TEST(WalkingMetadataIndexTest, StatusesThatCannotBeReadAreReportedAndVanishedFilesLeftOut) {
  ScanFixtureTree tree;
  tree.file("one/a.log", 3000);
  tree.file("one/z.log", 3000);
  tree.file("two/b.log", 4000);
  tree.file("two/c.dmg", 5000);
  tree.file("three/d.dmg", 6000);
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  reader->failStatus(tree.path("one/z.log"));
  reader->failStatus(tree.path("two/c.dmg"));
  auto index = WalkingMetadataIndex::make(reader, 60.0);
  MetadataIndex::Unreadable unreadable;
  auto logs = sizesByPath(gatherWith(*index, "_kMDItemFileName LIKE '*.log'", {tree.root()}, {}, &unreadable));
  EXPECT_EQ(logs, (std::map<std::string, std::int64_t>{
                      {tree.path("one/a.log"), 3000}, {tree.path("one/z.log"), 0}, {tree.path("two/b.log"), 4000}}));
  // The listing reports both files it could not read the status of, whatever the query.
  ASSERT_EQ(unreadable.size(), 2u);
  EXPECT_EQ(unreadable[0].path, tree.path("one/z.log"));
  EXPECT_FALSE(unreadable[0].isDirectory);
  EXPECT_EQ(unreadable[1].path, tree.path("two/c.dmg"));

  std::filesystem::remove(tree.path("three/d.dmg"));
  auto images = sizesByPath(gatherWith(*index, "_kMDItemFileName LIKE '*.dmg'", {tree.root()}, {}, &unreadable));
  EXPECT_EQ(images, (std::map<std::string, std::int64_t>{{tree.path("two/c.dmg"), 0}}));
  std::vector<std::string> paths;
  for (const auto& entry : unreadable) paths.push_back(entry.path);
  EXPECT_EQ(paths, (std::vector<std::string>{tree.path("one/z.log"), tree.path("two/c.dmg")}));

  auto large = sizesByPath(gatherWith(*index, "kMDItemFSSize > 1000", {tree.root()}, {}, &unreadable));
  EXPECT_EQ(large, (std::map<std::string, std::int64_t>{{tree.path("one/a.log"), 3000}, {tree.path("two/b.log"), 4000}}));
  paths.clear();
  for (const auto& entry : unreadable) paths.push_back(entry.path);
  EXPECT_EQ(paths, (std::vector<std::string>{tree.path("one/z.log"), tree.path("two/c.dmg")}));
}

// Deep folders have the statuses a later query needs read through the folder above them:
// the answers are those of shallow ones.
TEST(WalkingMetadataIndexTest, StatusesReadAfterTheWalkInDeepFolders) {
  ScanFixtureTree tree;
  constexpr int kLevels = 150;
  std::string folder;
  for (int level = 0; level < kLevels; ++level) {
    tree.file(folder + "f.bin", level + 1);
    tree.file(folder + "n" + std::to_string(level) + ".log", 7);
    folder += "d/";
  }
  auto index = WalkingMetadataIndex::make(nullptr, 60.0);
  EXPECT_TRUE(gather(*index, "kMDItemFSName == 'none'", {tree.root()}).empty());
  auto logs = gather(*index, "_kMDItemFileName LIKE '*.log'", {tree.root()});
  ASSERT_EQ(logs.size(), std::size_t{kLevels});
  for (const auto& item : logs) EXPECT_EQ(sizeOf(*item), 7);
  auto files = sizesByPath(gather(*index, "kMDItemFSSize > 0 && kMDItemFSName == 'f.bin'", {tree.root()}));
  ASSERT_EQ(files.size(), std::size_t{kLevels});
  folder.clear();
  for (int level = 0; level < kLevels; ++level, folder += "d/") EXPECT_EQ(files[tree.path(folder + "f.bin")], level + 1);
  EXPECT_EQ(index->walksStarted(), 1);
}

}  // namespace
}  // namespace vantelkit
