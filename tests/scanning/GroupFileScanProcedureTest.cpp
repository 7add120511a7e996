#include "vantelkit/scanning/GroupFileScanProcedure.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "support/ScanFixtureTree.h"
#include "vantelkit/foundation/ProcedureQueue.h"

namespace vantelkit {
namespace {

using vantel::testing::ScanFixtureTree;

static_assert(!std::is_constructible_v<GroupFileScanProcedure, std::shared_ptr<DispatchQueue>,
                                       std::vector<std::shared_ptr<Operation>>>);

std::shared_ptr<DiskScanResult> run(const std::shared_ptr<GroupFileScanProcedure>& procedure) {
  ProcedureQueue queue;
  queue.addOperation(procedure);
  EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  EXPECT_TRUE(procedure->isFinished());
  EXPECT_FALSE(procedure->failed());
  auto result = procedure->successValue();
  EXPECT_TRUE(result);
  return result ? *result : nullptr;
}

TEST(GroupFileScanProcedureTest, ScansFoldersInOrderIntoSharedCollectors) {
  ScanFixtureTree tree;
  tree.file("one/a", 1);
  tree.file("one/App.app/Contents/Info.plist", 1);
  tree.file("two/b", 2);
  tree.file("two/deep/c", 3);
  auto files = std::make_shared<NonDirectoryCollector>();
  auto directories = std::make_shared<DirectoryCollector>();
  // "one" twice and a missing folder: overlapping folders are collected twice, a missing
  // one adds nothing.
  std::vector<FileURL> urls{FileURL::fileURLWithPath(tree.path("one")), FileURL::fileURLWithPath(tree.path("two")),
                            FileURL::fileURLWithPath(tree.path("missing")),
                            FileURL::fileURLWithPath(tree.path("one"))};
  auto procedure = std::make_shared<GroupFileScanProcedure>(
      urls, std::vector<std::shared_ptr<FileCollector>>{files, directories}, false, std::nullopt);
  auto result = run(procedure);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->root(), nullptr);
  EXPECT_GE(result->elapsed(), 0);
  // one: a, App.app (not entered); two: b, deep, c; missing: nothing; one again.
  EXPECT_EQ(result->totalFilesScanned(), 2 + 3 + 0 + 2);
  std::vector<std::string> fileNames;
  for (const auto& node : files->files()) fileNames.push_back(node->name());
  // One folder at a time, in the order given.
  ASSERT_EQ(fileNames.size(), 4u);
  EXPECT_EQ(fileNames[0], "a");
  EXPECT_EQ(fileNames[3], "a");
  EXPECT_EQ(directories->fileCount(), 3u);

  auto bundles = std::make_shared<NonDirectoryCollector>();
  run(std::make_shared<GroupFileScanProcedure>(std::vector<FileURL>{FileURL::fileURLWithPath(tree.path("one"))},
                                               std::vector<std::shared_ptr<FileCollector>>{bundles}, true, 1));
  // Depth 1 lists the folder alone, even with bundles searched.
  EXPECT_EQ(bundles->fileCount(), 1u);
}

TEST(GroupFileScanProcedureTest, NoFoldersOrCancelledFirstStillFinishesWithAResult) {
  auto empty = run(std::make_shared<GroupFileScanProcedure>(std::vector<FileURL>{},
                                                            std::vector<std::shared_ptr<FileCollector>>{}, false, 2));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->totalFilesScanned(), 0);

  ScanFixtureTree tree;
  tree.file("a", 1);
  auto collector = std::make_shared<FileCollector>();
  auto cancelled = std::make_shared<GroupFileScanProcedure>(std::vector<FileURL>{FileURL::fileURLWithPath(tree.root())},
                                                            std::vector<std::shared_ptr<FileCollector>>{collector},
                                                            false, std::nullopt);
  cancelled->cancel();
  ProcedureQueue queue;
  queue.addOperation(cancelled);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  auto result = cancelled->successValue();
  ASSERT_TRUE(result);
  EXPECT_EQ((*result)->elapsed(), 0);
  EXPECT_EQ((*result)->totalFilesScanned(), 0);
  EXPECT_EQ(collector->fileCount(), 0u);
}

}  // namespace
}  // namespace vantelkit
