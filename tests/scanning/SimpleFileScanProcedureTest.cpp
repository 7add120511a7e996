#include "vantelkit/scanning/SimpleFileScanProcedure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <type_traits>

#include "support/ScanFixtureTree.h"
#include "vantelkit/foundation/ProcedureQueue.h"

namespace vantelkit {
namespace {

using vantel::testing::ScanFixtureTree;

static_assert(!std::is_constructible_v<SimpleFileScanProcedure, std::shared_ptr<DispatchQueue>,
                                       std::vector<std::shared_ptr<Operation>>>);

CollectedFiles run(const std::string& folder, std::vector<FileCollectorOptions> options, int depth) {
  auto procedure = std::make_shared<SimpleFileScanProcedure>(FileURL::fileURLWithPath(folder), options, depth);
  ProcedureQueue queue;
  queue.addOperation(procedure);
  EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  EXPECT_FALSE(procedure->failed());
  auto files = procedure->successValue();
  EXPECT_TRUE(files);
  return files ? *files : CollectedFiles{};
}

std::vector<std::string> names(const std::vector<std::shared_ptr<FileNode>>& nodes) {
  std::vector<std::string> result;
  for (const auto& node : nodes) result.push_back(node->name());
  std::sort(result.begin(), result.end());
  return result;
}

TEST(SimpleFileScanProcedureTest, KeysEveryKindEvenWhenEmpty) {
  ScanFixtureTree tree;
  tree.directory("empty");
  auto files = run(tree.path("empty"), {FileCollectorOptions::files, FileCollectorOptions::diskImages,
                                        FileCollectorOptions::packages},
                   1);
  ASSERT_EQ(files.size(), 3u);
  for (const char* key : {"files", "diskImages", "packages"}) {
    ASSERT_TRUE(files.count(key)) << key;
    EXPECT_TRUE(files[key].empty()) << key;
  }
  // A missing folder is no failure either.
  auto missing = run(tree.path("missing"), {FileCollectorOptions::directories}, 1);
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_TRUE(missing["directories"].empty());
}

TEST(SimpleFileScanProcedureTest, CollectsEachKindToTheDepthLimit) {
  ScanFixtureTree tree;
  tree.file("Setup.pkg", 10);
  tree.file("Image.dmg", 20);
  tree.file(".DS_Store", 1);
  tree.file("notes.txt", 2);
  tree.file("Old.xcarchive/Info.plist", 3);
  tree.file("deeper/Inner.pkg", 4);
  tree.file("deeper/still/Deep.dmg", 5);
  auto files = run(tree.root(),
                   {FileCollectorOptions::files, FileCollectorOptions::filesIgnoringDsStore,
                    FileCollectorOptions::directories, FileCollectorOptions::filesAndDirectories,
                    FileCollectorOptions::packages, FileCollectorOptions::diskImages,
                    FileCollectorOptions::xcodeArchives},
                   2);
  ASSERT_EQ(files.size(), 7u);
  EXPECT_EQ(names(files["files"]),
            (std::vector<std::string>{".DS_Store", "Image.dmg", "Info.plist", "Inner.pkg", "Setup.pkg", "notes.txt"}));
  EXPECT_EQ(names(files["filesIgnoringDsStore"]),
            (std::vector<std::string>{"Image.dmg", "Info.plist", "Inner.pkg", "Setup.pkg", "notes.txt"}));
  // Two levels: "still" is listed as an entry of "deeper", but not itself listed.
  EXPECT_EQ(names(files["directories"]), (std::vector<std::string>{"Old.xcarchive", "deeper", "still"}));
  EXPECT_EQ(files["filesAndDirectories"].size(), 9u);
  EXPECT_EQ(names(files["packages"]), (std::vector<std::string>{"Inner.pkg", "Setup.pkg"}));
  EXPECT_EQ(names(files["diskImages"]), (std::vector<std::string>{"Image.dmg"}));
  EXPECT_EQ(names(files["xcodeArchives"]), (std::vector<std::string>{"Old.xcarchive"}));

  auto shallow = run(tree.root(), {FileCollectorOptions::packages, FileCollectorOptions::packages}, 1);
  ASSERT_EQ(shallow.size(), 1u);
  EXPECT_EQ(names(shallow["packages"]), (std::vector<std::string>{"Setup.pkg"}));
}

TEST(SimpleFileScanProcedureTest, CancelledBeforeItRanLeavesTheOutputPendingAndFinishes) {
  ScanFixtureTree tree;
  tree.file("a", 1);
  auto procedure = std::make_shared<SimpleFileScanProcedure>(FileURL::fileURLWithPath(tree.root()),
                                                             std::vector{FileCollectorOptions::files}, 1);
  procedure->cancel();
  ProcedureQueue queue;
  queue.addOperation(procedure);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  EXPECT_TRUE(procedure->isFinished());
  EXPECT_TRUE(procedure->output().isPending());
}

}  // namespace
}  // namespace vantelkit
