#include "vantelkit/scanning/FileScanProcedure.h"

#include <gtest/gtest.h>

#include "support/CapturingLogger.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/foundation/ProcedureQueue.h"

using namespace vantelkit;
using vantel::testing::ScanFixtureTree;

namespace {

std::shared_ptr<DiskScanResult> runToEnd(const std::shared_ptr<FileScanProcedure>& procedure) {
  ProcedureQueue queue;
  queue.addOperation(procedure);
  EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  auto value = procedure->successValue();
  return value ? *value : nullptr;
}

TEST(FileScanProcedureTest, AMissingRootIsASuccessWithNothingFound) {
  ScanFixtureTree tree;
  auto all = std::make_shared<FileCollector>();
  auto result = runToEnd(std::make_shared<FileScanProcedure>(FileURL::fileURLWithPath(tree.path("missing")),
                                                             std::vector<std::shared_ptr<FileCollector>>{all}, false,
                                                             std::nullopt));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->totalFilesScanned(), 0);
  EXPECT_EQ(all->fileCount(), 0u);
}

TEST(FileScanProcedureTest, FillsTheCollectorsWithoutBuildingATree) {
  ScanFixtureTree tree;
  tree.file("a.dmg", 3);
  tree.file("deep/er/b.dmg", 4);
  tree.file("deep/er/c.txt", 5);
  tree.file("Tool.app/Contents/inner.dmg", 6);
  auto images = std::make_shared<DiskImageCollector>();
  auto sizes = std::make_shared<SizeCollector>();
  auto result = runToEnd(std::make_shared<FileScanProcedure>(
      FileURL::fileURLWithPath(tree.root()), std::vector<std::shared_ptr<FileCollector>>{images, sizes}, false,
      std::nullopt));
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->root()->children().empty());
  EXPECT_EQ(result->root()->size(), 0);
  EXPECT_EQ(images->fileCount(), 2u);  // not the one inside the bundle
  EXPECT_EQ(sizes->totalSize(), 12);
  EXPECT_EQ(result->totalFilesScanned(), 6);  // a.dmg, deep, er, b.dmg, c.txt, Tool.app
}

TEST(FileScanProcedureTest, DepthLimitOneCollectsOnlyTheRootsEntries) {
  ScanFixtureTree tree;
  tree.file("top", 1);
  tree.file("folder/inner", 1);
  auto all = std::make_shared<FileCollector>();
  auto result = runToEnd(std::make_shared<FileScanProcedure>(
      FileURL::fileURLWithPath(tree.root()), std::vector<std::shared_ptr<FileCollector>>{all}, false, 1));
  ASSERT_TRUE(result);
  std::vector<std::string> names;
  for (const auto& node : all->files()) names.push_back(node->name());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"folder", "top"}));
}

TEST(FileScanProcedureTest, CancelledBeforeItRunsOnlyWarns) {
  ScanFixtureTree tree;
  auto& logger = vantelkit::testing::CapturingLogger::shared();
  vantelkit::testing::ScopedLogLevel level(LogLevel::debug);
  logger.clear();
  auto procedure = std::make_shared<FileScanProcedure>(FileURL::fileURLWithPath(tree.root()),
                                                       std::vector<std::shared_ptr<FileCollector>>{}, false,
                                                       std::nullopt);
  procedure->cancel();
  EXPECT_EQ(logger.linesContaining("Procedure Did Cancel").size(), 1u);
  EXPECT_FALSE(procedure->scanner());
  ProcedureQueue queue;
  queue.addOperation(procedure);
  EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  EXPECT_TRUE(procedure->output().isPending());
}

TEST(FileScanProcedureTest, TwoScansMayShareACollector) {
  ScanFixtureTree tree;
  for (int i = 0; i < 300; ++i) tree.file("one/f" + std::to_string(i), 1);
  for (int i = 0; i < 300; ++i) tree.file("two/f" + std::to_string(i), 2);
  auto shared = std::make_shared<NonDirectoryCollector>();
  ProcedureQueue queue;
  for (auto folder : {"one", "two"})
    queue.addOperation(std::make_shared<FileScanProcedure>(FileURL::fileURLWithPath(tree.path(folder)),
                                                           std::vector<std::shared_ptr<FileCollector>>{shared}, false,
                                                           std::nullopt));
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  EXPECT_EQ(shared->fileCount(), 600u);
}

}  // namespace
