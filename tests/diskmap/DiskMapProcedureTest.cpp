#include "vantelkit/diskmap/DiskMapProcedure.h"

#include <gtest/gtest.h>

#include "support/ScanFixtureTree.h"
#include "vantelkit/diskmap/SizeProcedure.h"
#include "vantelkit/foundation/ProcedureQueue.h"

using namespace vantelkit;
using vantel::testing::ScanFixtureTree;

namespace {

template <class P>
void runToEnd(const std::shared_ptr<P>& procedure) {
  ProcedureQueue queue;
  queue.addOperation(procedure);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
}

TEST(DiskMapProcedureTest, BuildsTheSizeTree) {
  ScanFixtureTree tree;
  tree.file("a", 10);
  tree.file("sub/b", 5);
  tree.file("Big.app/Contents/x", 100);
  auto map = std::make_shared<DiskMapProcedure>(FileURL::fileURLWithPath(tree.root()), false, std::nullopt);
  runToEnd(map);
  auto result = map->successValue();
  ASSERT_TRUE(result);
  const auto& root = (*result)->root();
  EXPECT_EQ(root->size(), 15);
  EXPECT_EQ(root->children().size(), 3u);
  EXPECT_EQ((*result)->totalFilesScanned(), 4);

  auto searched = std::make_shared<DiskMapProcedure>(FileURL::fileURLWithPath(tree.root()), true, 2);
  runToEnd(searched);
  // Two levels: the bundle is listed, its Contents folder is not.
  EXPECT_EQ((*searched->successValue())->root()->size(), 15);
}

TEST(SizeProcedureTest, TotalsEveryRegularFileBundlesIncluded) {
  ScanFixtureTree tree;
  tree.file("a", 10);
  tree.file("Big.app/Contents/x", 100);
  tree.sparseFile("deep/er/sparse", 1 << 20);
  auto size = SizeProcedure::make(FileURL::fileURLWithPath(tree.root()));
  runToEnd(size);
  EXPECT_FALSE(size->failed());
  EXPECT_EQ(size->successValue(), 110 + (1 << 20));

  tree.directory("empty");
  auto empty = SizeProcedure::make(FileURL::fileURLWithPath(tree.path("empty")));
  runToEnd(empty);
  EXPECT_EQ(empty->successValue(), 0);
}

}  // namespace
