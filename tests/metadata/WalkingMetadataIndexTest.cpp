#include "vantelkit/metadata/WalkingMetadataIndex.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vantelkit
