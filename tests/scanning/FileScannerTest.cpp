#include "vantelkit/scanning/FileScanner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/CapturingLogger.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/platform/DispatchQueue.h"

using namespace vantelkit;
using vantel::testing::ScanFixtureTree;
using Node = std::shared_ptr<FileNode>;

namespace {

struct Reports {
  std::vector<std::int64_t> updateCounts;
  int finals = 0;
  std::vector<Node> finalFiles;
  std::int64_t finalCount = -1;
};

// A test that holds the scan until opened (or for at most ten seconds), so that the scan is
// certainly still running while the test looks at it.
struct Gate {
  std::atomic<bool> open{false};
  FileCollector::Evaluator evaluator() {
    return [this](const Node&) {
      for (int i = 0; i < 10000 && !open.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return true;
    };
  }
};

void listen(FileScanner& scanner, Reports& reports) {
  scanner.callbacks.scanUpdate = [&reports](const std::vector<Node>&, std::int64_t count) {
    reports.updateCounts.push_back(count);
  };
  scanner.callbacks.didFinishScanningFiles = [&reports](const std::vector<Node>& files, std::int64_t count) {
    ++reports.finals;
    reports.finalFiles = files;
    reports.finalCount = count;
  };
}

TEST(FileScannerTest, WithoutTestsReportsEverythingBundlesIncluded) {
  ScanFixtureTree tree;
  tree.file("a.txt", 1);
  tree.file("Tool.app/Contents/MacOS/tool", 2);
  Gate gate;
  auto scanner = FileScanner::make(FileURL::fileURLWithPath(tree.root()), {gate.evaluator()});
  Reports reports;
  listen(*scanner, reports);
  scanner->start();
  EXPECT_TRUE(scanner->isRunning());
  gate.open = true;
  ASSERT_TRUE(MainQueue::runUntil([&] { return reports.finals == 1; }, 60));
  EXPECT_EQ(reports.finalFiles.size(), 5u);
  EXPECT_EQ(reports.finalCount, 5);
  EXPECT_TRUE(MainQueue::runUntil([&] { return !scanner->isRunning(); }, 60));
  for (std::size_t i = 1; i < reports.updateCounts.size(); ++i)
    EXPECT_LE(reports.updateCounts[i - 1], reports.updateCounts[i]);
  for (auto count : reports.updateCounts) EXPECT_LE(count, 5);
}

TEST(FileScannerTest, StartingTwiceOnlyWarnsAndReportsOnce) {
  ScanFixtureTree tree;
  tree.file("x.log", 40);
  tree.file("y.log", 4);
  auto& logger = vantelkit::testing::CapturingLogger::shared();
  vantelkit::testing::ScopedLogLevel level(LogLevel::warning);
  logger.clear();
  Gate gate;
  auto scanner = FileScanner::make(FileURL::fileURLWithPath(tree.root()),
                                   {gate.evaluator(), [](const Node& node) { return node->fileExtension() == "log"; },
                                    [](const Node& node) { return node->size() > 10; }});
  Reports reports;
  listen(*scanner, reports);
  scanner->start();
  scanner->start();
  EXPECT_EQ(logger.linesContaining("File Scanner is already running").size(), 1u);
  gate.open = true;
  ASSERT_TRUE(MainQueue::runUntil([&] { return reports.finals == 1; }, 60));
  MainQueue::runFor(0.3);
  EXPECT_EQ(reports.finals, 1);
  ASSERT_EQ(reports.finalFiles.size(), 1u);
  EXPECT_EQ(reports.finalFiles[0]->name(), "x.log");
}

TEST(FileScannerTest, AStoppedScannerCanStartAgain) {
  ScanFixtureTree tree;
  for (int i = 0; i < 50; ++i) tree.file("d" + std::to_string(i % 5) + "/f" + std::to_string(i), 1);
  Gate gate;
  auto scanner = FileScanner::make(FileURL::fileURLWithPath(tree.root()), {gate.evaluator()});
  Reports reports;
  listen(*scanner, reports);
  scanner->start();
  scanner->stop();
  EXPECT_FALSE(scanner->isRunning());
  scanner->start();
  EXPECT_TRUE(scanner->isRunning());
  gate.open = true;
  ASSERT_TRUE(MainQueue::runUntil([&] { return reports.finals >= 1 && !scanner->isRunning(); }, 60));
  MainQueue::runFor(0.2);
  EXPECT_EQ(reports.finals, 1);
  EXPECT_EQ(reports.finalCount, 55);
}

TEST(FileScannerTest, NoReportsOnceTheClientDropsTheScanner) {
  ScanFixtureTree tree;
  tree.file("a", 1);
  Reports reports;
  {
    auto scanner = FileScanner::make(FileURL::fileURLWithPath(tree.root()), {});
    listen(*scanner, reports);
    scanner->start();
  }
  MainQueue::runFor(0.3);
  EXPECT_EQ(reports.finals, 0);
}

}  // namespace
