#include <gtest/gtest.h>

#include "support/ScanFixtureTree.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/scanning/FileScanner.h"

using namespace vantelkit;
using vantel::testing::ScanFixtureTree;
using Node = std::shared_ptr<FileNode>;

namespace {

TEST(FileScannerConcurrencyTest, StoppingAndRestartingEndsInOneFinalReport) {
  ScanFixtureTree tree;
  for (int i = 0; i < 400; ++i) tree.file("d" + std::to_string(i % 20) + "/f" + std::to_string(i), 1);
  for (int round = 0; round < 10; ++round) {
    auto scanner = FileScanner::make(FileURL::fileURLWithPath(tree.root()),
                                     {[](const Node& node) { return node->type() == FileNode::NodeType::file; }});
    int finals = 0;
    std::int64_t lastUpdate = 0;
    bool monotonic = true;
    std::vector<Node> found;
    scanner->callbacks.scanUpdate = [&](const std::vector<Node>&, std::int64_t count) {
      monotonic = monotonic && count >= lastUpdate;
      lastUpdate = count;
    };
    scanner->callbacks.didFinishScanningFiles = [&](const std::vector<Node>& files, std::int64_t) {
      ++finals;
      found = files;
    };
    for (int i = 0; i < round % 3; ++i) {
      scanner->start();
      scanner->stop();
    }
    scanner->start();
    ASSERT_TRUE(MainQueue::runUntil([&] { return finals > 0 && !scanner->isRunning(); }, 60)) << round;
    MainQueue::runFor(0.15);
    // Stopped searches may have reported before they were stopped; the last one reports in full.
    EXPECT_GE(finals, 1);
    EXPECT_EQ(found.size(), 400u);
    EXPECT_TRUE(monotonic || round % 3 != 0);
  }
}

}  // namespace
