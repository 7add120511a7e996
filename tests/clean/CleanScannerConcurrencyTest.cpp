#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/BoundedWait.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/clean/CleanScanner.h"
#include "vantelkit/foundation/Procedure.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

class CountingListener : public CleanScannerListener {
 public:
  void scanDidStart() override { starts.fetch_add(1); }
  void scanDidFinish() override { finishes.fetch_add(1); }
  void progressUpdate(double, const std::string&) override { progress.fetch_add(1); }
  std::atomic<int> starts{0};
  std::atomic<int> finishes{0};
  std::atomic<int> progress{0};
};

// Listeners come and go on other threads while scans deliver their notifications on the
// main queue: a listener registered throughout hears every scan exactly once.
TEST(CleanScannerConcurrencyTest, ListenersAddedAndRemovedOnOtherThreadsWhileScansDeliver) {
  vantel::testing::ScanFixtureTree tree;
  tree.file("home/Downloads/a.txt", 10);
  tree.file("home/Library/Caches/org.example/blob", 100);
  platform::Paths::setHomeOverride(tree.path("home"));
  platform::Paths::setRootOverride(tree.path("root"));

  auto scanner = CleanScanner::make();
  auto steady = std::make_shared<CountingListener>();
  scanner->addListener(steady);
  std::atomic<bool> stop{false};
  std::vector<std::thread> churners;
  for (int t = 0; t < 3; ++t) {
    churners.emplace_back([&] {
      while (!stop.load()) {
        auto passing = std::make_shared<CountingListener>();
        scanner->addListener(passing);
        scanner->addListener(steady);  // already there: no second copy
        scanner->removeListener(passing);
        std::this_thread::yield();
      }
    });
  }
  constexpr int kScans = 5;
  for (int scan = 1; scan <= kScans; ++scan) {
    scanner->start();
    ASSERT_TRUE(MainQueue::runUntil([&] { return steady->finishes.load() == scan; }, 30)) << "scan " << scan;
    EXPECT_FALSE(scanner->isRunning());
  }
  stop.store(true);
  for (auto& thread : churners) thread.join();
  MainQueue::runUntil([] { return MainQueue::pendingCount() == 0; }, 5);
  EXPECT_EQ(steady->starts.load(), kScans);
  EXPECT_EQ(steady->finishes.load(), kScans);
  EXPECT_EQ(steady->progress.load() % kScans, 0);
  platform::Paths::setHomeOverride(std::nullopt);
  platform::Paths::setRootOverride(std::nullopt);
}

// Cancelled from another thread while a step runs: the scan still ends as usual, keeps what
// the steps before found, skips the rest; cancelling an idle scanner does nothing, and the
// next scan is whole again.
TEST(CleanScannerConcurrencyTest, ACancelledScanEndsWithTheGroupsFoundSoFar) {
  vantel::testing::ScanFixtureTree tree;
  tree.file("home/Library/Logs/org.example.log", 10);
  tree.file("home/Library/Caches/org.example/blob", 100);
  tree.file("home/Downloads/a.txt", 10);
  platform::Paths::setHomeOverride(tree.path("home"));
  platform::Paths::setRootOverride(tree.path("root"));

  auto scanner = CleanScanner::make();
  scanner->cancel();
  auto listener = std::make_shared<CountingListener>();
  scanner->addListener(listener);
  std::atomic<bool> hold{true};
  std::atomic<bool> reached{false};
  testing::Gate release;
  scanner->setWillAddProcedureHandler([&](Procedure& step) {
    if (step.name() != "userCache scan" || !hold.load()) return;
    step.addWillExecuteBlockObserver([&](Procedure&) {
      reached.store(true);
      EXPECT_TRUE(release.wait());
    });
  });
  scanner->start();
  ASSERT_TRUE(MainQueue::runUntil([&] { return reached.load(); }, 30));
  std::thread([&] {
    scanner->cancel();
    scanner->cancel();
  }).join();
  release.open();
  ASSERT_TRUE(MainQueue::runUntil([&] { return listener->finishes.load() == 1; }, 30));
  EXPECT_FALSE(scanner->isRunning());
  EXPECT_TRUE(scanner->wasCancelled());
  auto groups = scanner->groups();
  EXPECT_TRUE(groups.contains(CleanScanGroup::userLogs));
  EXPECT_TRUE(groups[CleanScanGroup::downloads].empty());
  scanner->cancel();
  EXPECT_TRUE(scanner->wasCancelled());

  hold.store(false);
  scanner->start();
  ASSERT_TRUE(MainQueue::runUntil([&] { return listener->finishes.load() == 2; }, 30));
  EXPECT_FALSE(scanner->wasCancelled());
  EXPECT_EQ(scanner->groups()[CleanScanGroup::downloads].size(), 1u);
  EXPECT_EQ(listener->starts.load(), 2);
  scanner->setWillAddProcedureHandler({});
  platform::Paths::setHomeOverride(std::nullopt);
  platform::Paths::setRootOverride(std::nullopt);
}

}  // namespace
}  // namespace vantelkit
