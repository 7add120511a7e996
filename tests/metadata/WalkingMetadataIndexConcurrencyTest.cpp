#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "metadata/MetadataTestSupport.h"
#include "support/FaultInjectingDirectoryReader.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/metadata/MetadataQuery.h"
#include "vantelkit/metadata/WalkingMetadataIndex.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/NotificationCenter.h"

namespace vantelkit {
namespace {

using testing::Gate;
using testing::GatherResult;
using testing::sortedPaths;
using vantel::testing::FaultInjectingDirectoryReader;
using vantel::testing::ScanFixtureTree;

const char* const kPackages = "_kMDItemFileName LIKE[cd] '*.pkg'";
const char* const kImages = "_kMDItemFileName LIKE[cd] '*.dmg'";
const char* const kLarge = "kMDItemFSSize > 1000";

// A tree of eight folders below the root, so one walk lists nine.
void fill(ScanFixtureTree& tree) {
  for (int i = 0; i < 4; ++i) {
    auto folder = "f" + std::to_string(i);
    tree.file(folder + "/setup.pkg", 10);
    tree.file(folder + "/disk.dmg", 20);
    tree.file(folder + "/inner/huge.bin", 5000);
  }
}
constexpr int kListingsOfOneWalk = 9;

// Holds the listing of the scope itself until opened, so that queries can be sure to arrive
// while the walk runs.
struct HeldWalk {
  explicit HeldWalk(const std::string& root) {
    reader->setBeforeListing([this, root](const std::string& path) {
      if (path != root) return;
      started.open();
      EXPECT_TRUE(release.wait());
    });
  }
  std::shared_ptr<FaultInjectingDirectoryReader> reader = std::make_shared<FaultInjectingDirectoryReader>();
  Gate started;
  Gate release;
};

TEST(WalkingMetadataIndexConcurrencyTest, QueriesArrivingDuringAWalkShareIt) {
  ScanFixtureTree tree;
  fill(tree);
  HeldWalk held(tree.root());
  auto index = WalkingMetadataIndex::make(held.reader);

  GatherResult packages, images, large;
  auto first = index->gather(MetadataPredicate::fromFormat(kPackages), {tree.root()}, packages.completion());
  ASSERT_TRUE(held.started.wait());
  index->gather(MetadataPredicate::fromFormat(kImages), {tree.root()}, images.completion());
  index->gather(MetadataPredicate::fromFormat(kLarge), {tree.root() + "/"}, large.completion());
  held.release.open();

  auto packageItems = packages.wait();
  auto imageItems = images.wait();
  auto largeItems = large.wait();
  ASSERT_TRUE(packageItems && imageItems && largeItems);
  EXPECT_EQ(packageItems->size(), 4u);
  EXPECT_EQ(imageItems->size(), 4u);
  EXPECT_EQ(largeItems->size(), 4u);
  EXPECT_EQ(index->walksStarted(), 1);
  EXPECT_EQ(held.reader->listings(), kListingsOfOneWalk);
}

TEST(WalkingMetadataIndexConcurrencyTest, QueriesWithinTheWindowAfterAWalkReuseIt) {
  ScanFixtureTree tree;
  fill(tree);
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  auto index = WalkingMetadataIndex::make(reader, 60.0);
  for (const char* predicate : {kPackages, kImages, kLarge}) {
    GatherResult result;
    index->gather(MetadataPredicate::fromFormat(predicate), {tree.root()}, result.completion());
    auto items = result.wait();
    ASSERT_TRUE(items);
    EXPECT_EQ(items->size(), 4u) << predicate;
  }
  EXPECT_EQ(index->walksStarted(), 1);
  EXPECT_EQ(reader->listings(), kListingsOfOneWalk);

  // Without a window every query walks anew, and sees what changed.
  auto unshared = WalkingMetadataIndex::make(reader, 0.0);
  GatherResult before, after;
  unshared->gather(MetadataPredicate::fromFormat(kPackages), {tree.root()}, before.completion());
  ASSERT_TRUE(before.wait());
  tree.file("late.pkg", 1);
  unshared->gather(MetadataPredicate::fromFormat(kPackages), {tree.root()}, after.completion());
  auto items = after.wait();
  ASSERT_TRUE(items);
  EXPECT_EQ(items->size(), 5u);
  EXPECT_EQ(unshared->walksStarted(), 2);
}

TEST(WalkingMetadataIndexConcurrencyTest, AWalkNobodyWaitsForStopsAndIsNotReused) {
  ScanFixtureTree tree;
  fill(tree);
  HeldWalk held(tree.root());
  auto index = WalkingMetadataIndex::make(held.reader, 60.0);

  GatherResult kept, dropped;
  auto keptGathering = index->gather(MetadataPredicate::fromFormat(kLarge), {tree.root()}, kept.completion());
  auto droppedGathering = index->gather(MetadataPredicate::fromFormat(kImages), {tree.root()}, dropped.completion());
  ASSERT_TRUE(held.started.wait());
  // One of two waiters leaves: the walk goes on for the other.
  droppedGathering->cancel();
  held.release.open();
  auto items = kept.wait();
  ASSERT_TRUE(items);
  EXPECT_EQ(sortedPaths(*items).size(), 4u);
  EXPECT_EQ(dropped.calls(), 0);

  // The only waiter leaves: the walk stops, answers nobody, and the next query walks again.
  HeldWalk second(tree.root());
  auto other = WalkingMetadataIndex::make(second.reader, 60.0);
  GatherResult cancelled;
  auto gathering = other->gather(MetadataPredicate::fromFormat(kLarge), {tree.root()}, cancelled.completion());
  ASSERT_TRUE(second.started.wait());
  gathering->cancel();
  second.release.open();
  GatherResult fresh;
  other->gather(MetadataPredicate::fromFormat(kLarge), {tree.root()}, fresh.completion());
  auto freshItems = fresh.wait();
  ASSERT_TRUE(freshItems);
  EXPECT_EQ(freshItems->size(), 4u);
  EXPECT_EQ(other->walksStarted(), 2);
  EXPECT_EQ(cancelled.calls(), 0);
}

// A query cancelled from another thread while its walk runs still posts its finish, with
// what the walk found until then (the walk stops); one cancelled before its start posts with nothing.
TEST(WalkingMetadataIndexConcurrencyTest, ACancelledQueryPostsWhatItFoundSoFar) {
  ScanFixtureTree tree;
  fill(tree);
  tree.file("top.pkg", 1);
  tree.file("f0/inner/deep.pkg", 1);
  HeldWalk held(tree.path("f0"));
  auto index = WalkingMetadataIndex::make(held.reader);
  auto query = MetadataQuery::make(index);
  auto early = MetadataQuery::make(index);
  for (const auto& each : {query, early}) {
    each->setPredicate(MetadataPredicate::fromFormat(kPackages));
    each->setSearchScopes({tree.root()});
  }
  std::atomic<int> posts{0};
  std::atomic<int> earlyPosts{0};
  auto& center = platform::NotificationCenter::defaultCenter();
  auto token = center.addObserver(std::string(MetadataQuery::didFinishGatheringNotification),
                                  [&](const platform::Notification& notification) {
                                    const auto* sender = std::any_cast<std::shared_ptr<MetadataQuery>>(&notification.object);
                                    if (sender && *sender == query) posts.fetch_add(1);
                                    if (sender && *sender == early) earlyPosts.fetch_add(1);
                                  });
  ASSERT_TRUE(query->startQuery());
  ASSERT_TRUE(held.started.wait());
  std::thread([&] {
    query->cancel();
    query->cancel();
  }).join();
  held.release.open();
  ASSERT_TRUE(MainQueue::runUntil([&] { return posts.load() == 1; }, 20));
  EXPECT_FALSE(query->isComplete());
  std::vector<std::string> paths;
  for (const auto& item : query->results()) paths.push_back(std::get<std::string>(*item->valueForAttribute("kMDItemPath")));
  EXPECT_NE(std::find(paths.begin(), paths.end(), tree.path("top.pkg")), paths.end());
  // Below the folder held when the cancellation came, nothing is listed.
  EXPECT_EQ(std::find(paths.begin(), paths.end(), tree.path("f0/inner/deep.pkg")), paths.end());

  early->cancel();
  ASSERT_TRUE(early->startQuery());
  ASSERT_TRUE(MainQueue::runUntil([&] { return earlyPosts.load() == 1; }, 20));
  EXPECT_FALSE(early->isComplete());
  EXPECT_TRUE(early->results().empty());
  query->cancel();
  MainQueue::runUntil([] { return MainQueue::pendingCount() == 0; }, 5);
  EXPECT_EQ(posts.load(), 1);
  center.removeObserver(token);
}

// Size queries that join a walk started for a name read every size once between them, each
// on its own thread, while a query that enters hidden folders walks on its own beside them.
TEST(WalkingMetadataIndexConcurrencyTest, SizeQueriesJoiningANameWalkReadTheSizesOnce) {
  ScanFixtureTree tree;
  fill(tree);
  tree.file(".cache/huge.bin", 9000);
  constexpr int kFiles = 12;  // what fill() makes outside .cache
  for (int round = 0; round < 5; ++round) {
    HeldWalk held(tree.root());
    auto index = WalkingMetadataIndex::make(held.reader, 60.0);
    GatherResult packages;
    index->gather(MetadataPredicate::fromFormat(kPackages), {tree.root()}, packages.completion());
    ASSERT_TRUE(held.started.wait());
    std::vector<GatherResult> large(3);
    for (auto& each : large) index->gather(MetadataPredicate::fromFormat(kLarge), {tree.root()}, each.completion());
    GatherResult hidden;
    index->gatherWithOptions(MetadataPredicate::fromFormat(kLarge), {tree.root()}, {.entersHiddenFolders = true},
                             hidden.completion());
    held.release.open();

    auto packageItems = packages.wait();
    ASSERT_TRUE(packageItems);
    EXPECT_EQ(packageItems->size(), 4u);
    for (auto& each : large) {
      auto items = each.wait();
      ASSERT_TRUE(items);
      EXPECT_EQ(sortedPaths(*items).size(), 4u);
      for (const auto& item : *items) EXPECT_EQ(std::get<std::int64_t>(*item->valueForAttribute("kMDItemFSSize")), 5000);
    }
    auto hiddenItems = hidden.wait();
    ASSERT_TRUE(hiddenItems);
    EXPECT_EQ(hiddenItems->size(), 5u);
    EXPECT_EQ(index->walksStarted(), 2);
    // The sizes of the packages as the walk listed them (those it did not probe), then every
    // file of the name walk once.
    EXPECT_GE(held.reader->statusesRead(), kFiles);
    EXPECT_LE(held.reader->statusesRead(), kFiles + 4);
  }
}

}  // namespace
}  // namespace vantelkit
