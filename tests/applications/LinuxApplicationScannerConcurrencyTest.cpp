#include <gtest/gtest.h>

#include "fixtures/LinuxApplications.h"
#include "support/FakeFlatpakInstallations.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/applications/LinuxApplicationScanner.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

using platform::Paths;

struct Recorder final : ApplicationScannerListener {
  int started = 0;
  int finished = 0;
  void scanDidStart() override { ++started; }
  void scanDidFinish() override { ++finished; }
};

class LinuxApplicationScannerConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    layout = {tree.directory("home"), tree.directory("root")};
    fixtures::writeLinuxApplications(layout);
    Paths::setRootOverride(layout.root);
    Paths::setHomeOverride(layout.home);
    platform::FlatpakInstallations::setShared(std::make_shared<vantel::testing::FakeFlatpakInstallations>());
  }
  void TearDown() override {
    Paths::setHomeOverride(std::nullopt);
    Paths::setRootOverride(std::nullopt);
    platform::FlatpakInstallations::setShared(nullptr);
  }
  vantel::testing::ScanFixtureTree tree;
  fixtures::DemoHomeLayout layout;
};

// Scans over the same folders give the same inventory; a second start() while one runs
// changes nothing; a cancel at any point still ends the scan once.
TEST_F(LinuxApplicationScannerConcurrencyTest, RepeatedAndCancelledScansEndOnceWithConsistentResults) {
  std::optional<std::vector<LinuxApplicationRecord>> first;
  std::optional<std::vector<LinuxLeftover>> firstLeftovers;
  for (int round = 0; round < 12; ++round) {
    auto scanner = LinuxApplicationScanner::make();
    scanner->setCatalogOptions({.desktops = std::vector<std::string>{}, .locale = "C", .dataDirectories = std::nullopt});
    auto recorder = std::make_shared<Recorder>();
    scanner->addListener(recorder);
    const bool cancelling = round % 3 == 2;
    scanner->start();
    scanner->start();
    if (cancelling) {
      DispatchQueue::global()->async([scanner] { scanner->cancel(); });
    }
    ASSERT_TRUE(MainQueue::runUntil([&] { return recorder->finished == 1; }, 60));
    MainQueue::runFor(0.01);
    EXPECT_EQ(recorder->started, 1);
    EXPECT_EQ(recorder->finished, 1);
    EXPECT_FALSE(scanner->isRunning());
    if (cancelling) continue;
    EXPECT_FALSE(scanner->wasCancelled());
    if (!first) {
      first = scanner->applications();
      firstLeftovers = scanner->leftovers();
      EXPECT_FALSE(first->empty());
    } else {
      EXPECT_EQ(scanner->applications(), *first);
      EXPECT_EQ(scanner->leftovers(), *firstLeftovers);
    }
  }
}

}  // namespace
}  // namespace vantelkit
