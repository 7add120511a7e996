#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "support/FaultInjectingDirectoryReader.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/scanning/DiskMap.h"
#include "vantelkit/scanning/DiskScanner.h"

using namespace vantelkit;
using vantel::testing::FaultInjectingDirectoryReader;
using vantel::testing::ScanFixtureTree;
using namespace std::chrono_literals;

namespace {

// 40 folders of 3 subfolders of 4 files each, one hard link per folder: 40 + 120 + 520.
void makeBushyTree(ScanFixtureTree& tree) {
  for (int i = 0; i < 40; ++i) {
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 4; ++k)
        tree.file("d" + std::to_string(i) + "/e" + std::to_string(j) + "/f" + std::to_string(k), i + j + k);
    tree.hardLink("d" + std::to_string(i) + "/link", "d" + std::to_string(i) + "/e0/f0");
  }
}
constexpr std::size_t kBushyEntries = 1 + 40 + 120 + 480 + 40;

}  // namespace

TEST(DiskMapConcurrencyTest, ManyTraversalsFillOneMapAndCancelLeavesItConsistent) {
  ScanFixtureTree tree;
  makeBushyTree(tree);
  for (int round = 0; round < 12; ++round) {
    auto reader = std::make_shared<FaultInjectingDirectoryReader>();
    auto scanner = DiskScanner::make([](double, bool) {}, reader);
    scanner->setMaxConcurrentTraversals(4);
    scanner->setFanOut(round % 2 ? DiskScanner::FanOut::whileSlotsFree : DiskScanner::FanOut::onDemand);
    DiskScanner::WalkOptions options;
    options.countHardLinksOnce = round % 3 == 0;
    scanner->setWalkOptions(options);
    const bool cancels = round % 2 == 1;
    std::weak_ptr<DiskScanner> weak = scanner;
    auto calls = std::make_shared<std::atomic<int>>(0);
    reader->setBeforeListing([weak, calls, cancels, round](const std::string&) {
      // The progress display reads the folder being listed from another thread.
      if (auto strong = weak.lock()) (void)strong->currentFolder();
      if (!cancels || calls->fetch_add(1) + 1 != 10 + round * 5) return;
      if (auto strong = weak.lock()) strong->cancel();
    });
    DiskScanner::MapChoices choices;
    choices.namesInOrder = round % 4 < 2;
    auto counted = std::make_shared<std::atomic<int>>(0);
    choices.counted = [counted](const DiskMap::Entry& entry) {
      counted->fetch_add(1);
      return !entry.isDirectory();
    };
    auto done = std::async(std::launch::async, [&] {
      return scanner->scanMap(FileURL::fileURLWithPath(tree.root()), {.choices = choices});
    });
    ASSERT_EQ(done.wait_for(60s), std::future_status::ready) << "the scan hung";
    auto map = done.get();
    // Each entry was offered to the count once; files were accepted.
    EXPECT_EQ(static_cast<std::size_t>(counted->load()), map->count() - 1);
    if (!cancels) {
      EXPECT_TRUE(map->isComplete());
      EXPECT_EQ(map->count(), kBushyEntries);
      EXPECT_EQ(scanner->countedEntries(), 40 * 13);
    }
    // Every entry is reachable from the root exactly once, and each folder's size is its own
    // (as the file system gives it) and the sum of what it holds.
    std::vector<int> seen(map->count(), 0);
    std::vector<DiskMap::Index> stack{DiskMap::rootIndex};
    while (!stack.empty()) {
      auto index = stack.back();
      stack.pop_back();
      ++seen[index];
      const auto& entry = (*map)[index];
      if (!entry.isDirectory()) continue;
      std::int64_t below = 0;
      for (DiskMap::Index i = 0; i < entry.childCount; ++i) {
        const auto& child = (*map)[entry.firstChild + i];
        if (!child.hasMark(FileNode::duplicateLink)) below += child.size;
        stack.push_back(entry.firstChild + i);
      }
      const std::int64_t own = vantelkit::platform::pathStatus(map->path(index), false).ownSize;
      EXPECT_EQ(entry.size, own + below) << map->path(index) << " round " << round;
    }
    for (std::size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], 1) << "entry " << i << " round " << round;
    EXPECT_EQ(map->totalSize(), map->root().size) << round;
    EXPECT_EQ(scanner->activeThreads(), 0);
  }
}
