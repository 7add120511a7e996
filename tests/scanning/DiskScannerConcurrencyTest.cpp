#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "support/FaultInjectingDirectoryReader.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/diskmap/DiskMapProcedure.h"
#include "vantelkit/scanning/DiskScanner.h"
#include "vantelkit/foundation/ProcedureQueue.h"

using namespace vantelkit;
using vantel::testing::FaultInjectingDirectoryReader;
using vantel::testing::ScanFixtureTree;
using namespace std::chrono_literals;

namespace {

// 60 folders of 3 subfolders of 4 files each: 60 + 180 + 720 = 960 nodes, 241 listings.
void makeBushyTree(ScanFixtureTree& tree) {
  for (int i = 0; i < 60; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 4; ++k)
        tree.file("d" + std::to_string(i) + "/e" + std::to_string(j) + "/f" + std::to_string(k), 1);
}
constexpr std::int64_t kBushyNodes = 960;

// Sums a (possibly partial) tree the slow way.
std::int64_t sumOfFiles(const FileNode& node) {
  std::int64_t sum = 0;
  for (const auto& child : node.children())
    sum += child->type() == FileNode::NodeType::file ? child->size() : sumOfFiles(*child);
  return sum;
}

TEST(DiskScannerConcurrencyTest, CancellingMidScanReturnsAConsistentPartialResult) {
  ScanFixtureTree tree;
  makeBushyTree(tree);
  for (int round = 0; round < 20; ++round) {
    auto reader = std::make_shared<FaultInjectingDirectoryReader>();
    auto scanner = DiskScanner::make({}, reader);
    scanner->setMaxConcurrentTraversals(4);
    scanner->setFanOut(round % 2 ? DiskScanner::FanOut::whileSlotsFree : DiskScanner::FanOut::onDemand);
    const int cancelAt = 5 + round * 7;
    std::weak_ptr<DiskScanner> weak = scanner;
    // Several threads list at once, so a count read back may skip a value; the number each
    // call takes for itself does not, and exactly one call takes cancelAt.
    auto calls = std::make_shared<std::atomic<int>>(0);
    reader->setBeforeListing([weak, calls, cancelAt](const std::string&) {
      if (calls->fetch_add(1) + 1 != cancelAt) return;
      if (auto strong = weak.lock()) strong->cancel();
    });
    auto all = std::make_shared<FileCollector>();
    auto done = std::async(std::launch::async, [&] {
      return scanner->scan(FileURL::fileURLWithPath(tree.root()), {.collectors = {all}, .buildTree = true});
    });
    ASSERT_EQ(done.wait_for(60s), std::future_status::ready) << "the scan hung after cancel";
    auto result = done.get();
    EXPECT_LT(result->totalFilesScanned(), kBushyNodes);
    EXPECT_EQ(static_cast<std::size_t>(result->totalFilesScanned()), all->fileCount());
    EXPECT_EQ(result->root()->size(), sumOfFiles(*result->root()));
    EXPECT_EQ(scanner->activeThreads(), 0);
    EXPECT_EQ(scanner->waitingOperations(), 0);
    EXPECT_FALSE(scanner->isCancelled());
  }
}

TEST(DiskScannerConcurrencyTest, CancellingFromAnotherThreadNeverHangs) {
  ScanFixtureTree tree;
  makeBushyTree(tree);
  for (int round = 0; round < 30; ++round) {
    auto map = std::make_shared<DiskMapProcedure>(FileURL::fileURLWithPath(tree.root()), false, std::nullopt);
    ProcedureQueue queue;
    queue.addOperation(map);
    std::this_thread::sleep_for(std::chrono::microseconds(round * 150));
    map->cancel();
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(60)) << "round " << round;
    // Either cancelled before it ran (no output) or a partial tree as a success.
    if (auto result = map->successValue()) {
      EXPECT_LE((*result)->totalFilesScanned(), kBushyNodes);
      EXPECT_EQ((*result)->root()->size(), sumOfFiles(*(*result)->root()));
    }
  }
}

TEST(DiskScannerConcurrencyTest, AtMostSixteenTraversalsAreActive) {
  ScanFixtureTree tree;
  for (int i = 0; i < 40; ++i)
    for (int j = 0; j < 20; ++j) tree.file("w" + std::to_string(i) + "/s" + std::to_string(j) + "/f", 1);
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  // Slow listings, so that traversals overlap.
  reader->setBeforeListing([](const std::string&) { std::this_thread::sleep_for(1ms); });
  auto scanner = DiskScanner::make({}, reader);
  scanner->setMaxConcurrentTraversals(64);
  scanner->setFanOut(DiskScanner::FanOut::whileSlotsFree);
  auto done = std::async(std::launch::async, [&] {
    return scanner->scan(FileURL::fileURLWithPath(tree.root()), {.buildTree = true});
  });
  ASSERT_EQ(done.wait_for(60s), std::future_status::ready);
  auto result = done.get();
  EXPECT_EQ(result->totalFilesScanned(), 40 + 800 + 800);
  EXPECT_LE(reader->mostConcurrentListings(), DiskScanner::maxActiveTraversals);
  EXPECT_GT(reader->mostConcurrentListings(), 1);
  EXPECT_EQ(scanner->activeThreads(), 0);
}

TEST(DiskScannerConcurrencyTest, TheHeartbeatStopsWithTheScan) {
  ScanFixtureTree tree;
  for (int i = 0; i < 30; ++i) tree.file("d" + std::to_string(i) + "/f", 1);
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  reader->setBeforeListing([](const std::string&) { std::this_thread::sleep_for(10ms); });
  std::atomic<int> beats{0};
  std::atomic<bool> sawFinished{false};
  auto scanner = DiskScanner::make([&](double progress, bool finished) {
        EXPECT_EQ(progress, 0.0);
        if (finished) sawFinished = true;
        ++beats;
      }, reader);
  scanner->setMaxConcurrentTraversals(1);
  auto started = std::chrono::steady_clock::now();
  scanner->scan(FileURL::fileURLWithPath(tree.root()), {});
  auto took = std::chrono::steady_clock::now() - started;
  int atEnd = beats.load();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(beats.load(), atEnd);
  EXPECT_FALSE(sawFinished.load());
  if (took > 500ms) {
    EXPECT_GT(atEnd, 0);
  }
}

TEST(DiskScannerConcurrencyTest, ConcurrentScansShareCollectorsSafely) {
  ScanFixtureTree tree;
  makeBushyTree(tree);
  auto sizes = std::make_shared<SizeCollector>();
  auto files = std::make_shared<NonDirectoryCollector>();
  std::vector<std::future<void>> scans;
  for (int i = 0; i < 4; ++i) {
    scans.push_back(std::async(std::launch::async, [&tree, &sizes, &files, i] {
      auto scanner = DiskScanner::make();
      scanner->scan(FileURL::fileURLWithPath(tree.root()),
                    {.collectors = {sizes, files}, .buildTree = i % 2 == 0, .searchBundles = true});
    }));
  }
  for (auto& scan : scans) ASSERT_EQ(scan.wait_for(60s), std::future_status::ready);
  EXPECT_EQ(sizes->totalSize(), 4 * 720);
  EXPECT_EQ(files->fileCount(), 4u * 720u);
}

}  // namespace

TEST(DiskScannerConcurrencyTest, ParallelTraversalsRecordUnreadableFoldersLinksAndProgressSafely) {
  ScanFixtureTree tree;
  makeBushyTree(tree);
  for (int i = 0; i < 60; i += 2) tree.hardLink("d" + std::to_string(i) + "/link", "d0/e0/f0");
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  for (int i = 0; i < 60; i += 3) reader->failOpen(tree.path("d" + std::to_string(i) + "/e1"));
  std::atomic<int> ticks{0};
  std::shared_ptr<DiskScanner> scanner;
  scanner = DiskScanner::make([&ticks](double, bool) { ++ticks; }, reader);
  std::weak_ptr<DiskScanner> weak = scanner;
  reader->setBeforeListing([weak](const std::string&) {
    // Progress readers run while the traversals write.
    if (auto self = weak.lock()) (void)self->currentFolder(), (void)self->sizeSoFar();
  });
  scanner->setMaxConcurrentTraversals(4);
  scanner->setFanOut(DiskScanner::FanOut::whileSlotsFree);
  DiskScanner::WalkOptions options;
  options.countHardLinksOnce = true;
  scanner->setWalkOptions(options);
  for (int round = 0; round < 5; ++round) {
    auto done = std::async(std::launch::async, [&] {
      return scanner->scan(FileURL::fileURLWithPath(tree.root()), {.buildTree = true});
    });
    ASSERT_EQ(done.wait_for(60s), std::future_status::ready);
    auto result = done.get();
    ASSERT_EQ(result->unreadableCount(), 20u);
    EXPECT_TRUE(std::is_sorted(result->unreadableEntries().begin(), result->unreadableEntries().end(),
                               [](const auto& a, const auto& b) { return a.path < b.path; }));
    EXPECT_EQ(result->hardLinks().size(), 31u);
    // 720 files, less the 20 unreadable folders' 80, the links counted once with f0.
    EXPECT_EQ(result->totalSize(), 720 - 80);
    EXPECT_EQ(result->root()->size(), sumOfFiles(*result->root()) - 30);
  }
}
