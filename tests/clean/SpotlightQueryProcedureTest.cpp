#include "vantelkit/clean/SpotlightQueryProcedure.h"

#include <gtest/gtest.h>

#include <atomic>

#include "support/ScanFixtureTree.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/metadata/WalkingMetadataIndex.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {
namespace {

using vantel::testing::ScanFixtureTree;

static_assert(!std::is_default_constructible_v<SpotlightQueryProcedure>);

// Answers every query with fixed items at once, or holds it when there are none to give.
class FakeIndex final : public MetadataIndex {
 public:
  struct FakeGathering final : Gathering {
    void cancel() override { cancelled = true; }
    std::atomic<bool> cancelled{false};
  };

  std::shared_ptr<Gathering> gather(const MetadataPredicate& predicate, const std::vector<std::string>& scopes,
                                    Completion completion) override {
    auto gathering = std::make_shared<FakeGathering>();
    std::lock_guard lock(mutex);
    lastPredicate = predicate.format();
    lastScopes = scopes;
    lastGathering = gathering;
    if (answer) completion(*answer, {});
    return gathering;
  }

  std::mutex mutex;
  std::optional<Items> answer;  // guarded by mutex, as are the rest
  std::string lastPredicate;
  std::vector<std::string> lastScopes;
  std::shared_ptr<FakeGathering> lastGathering;
};

std::shared_ptr<const MetadataItem> item(MetadataItem::Attributes attributes) {
  return std::make_shared<const MetadataItem>(std::move(attributes));
}

class SpotlightQueryProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::Paths::setHomeOverride(home.root()); }
  void TearDown() override {
    MetadataIndex::setShared(nullptr);
    platform::Paths::setHomeOverride(std::nullopt);
  }

  // Queues the procedure and drains the main queue until it has finished.
  bool run(const std::shared_ptr<SpotlightQueryProcedure>& procedure) {
    queue.addOperation(procedure);
    return MainQueue::runUntil([&] { return procedure->isFinished(); }, 20);
  }

  static std::vector<std::pair<std::string, std::int64_t>> pathsAndSizes(const SpotlightQueryProcedure& procedure) {
    std::vector<std::pair<std::string, std::int64_t>> result;
    for (const auto& node : procedure.successValue().value_or(std::vector<std::shared_ptr<FileNode>>{})) {
      EXPECT_EQ(node->type(), FileNode::NodeType::file);
      EXPECT_EQ(node->parent(), nullptr);
      EXPECT_TRUE(node->children().empty());
      result.emplace_back(node->url().path(), node->size());
    }
    return result;
  }

  ScanFixtureTree home;
  ProcedureQueue queue;
};

TEST_F(SpotlightQueryProcedureTest, QueriesTheHomeFolderLargestFirstSkippingMalformedResults) {
  auto index = std::make_shared<FakeIndex>();
  index->answer = MetadataIndex::Items{
      item({{"kMDItemPath", std::string("/h/five")}, {"kMDItemFSSize", std::int64_t{5}}}),
      item({{"kMDItemFSSize", std::int64_t{900}}}),
      item({{"kMDItemPath", std::string("/h/text-size")}, {"kMDItemFSSize", std::string("800")}}),
      item({{"kMDItemPath", std::string("/h/fifty")}, {"kMDItemFSSize", 50.0}}),
      item({{"kMDItemPath", std::int64_t{1}}, {"kMDItemFSSize", std::int64_t{700}}}),
      item({{"kMDItemPath", std::string("/h/no-size")}}),
      nullptr,
      item({{"kMDItemPath", std::string("/h/five hundred")}, {"kMDItemFSSize", std::int64_t{500}}}),
  };
  MetadataIndex::setShared(index);
  auto procedure = std::make_shared<SpotlightQueryProcedure>(MetadataPredicate::fromFormat("(kMDItemFSSize > 1)"));
  ASSERT_TRUE(run(procedure));
  EXPECT_FALSE(procedure->failed());
  EXPECT_EQ(pathsAndSizes(*procedure), (std::vector<std::pair<std::string, std::int64_t>>{
                                           {"/h/five hundred", 500}, {"/h/fifty", 50}, {"/h/five", 5}}));
  std::lock_guard lock(index->mutex);
  EXPECT_EQ(index->lastPredicate, "kMDItemFSSize > 1");
  EXPECT_EQ(index->lastScopes, std::vector<std::string>{home.root()});
}

TEST_F(SpotlightQueryProcedureTest, GathersFromTheLibrarysOwnIndex) {
  MetadataIndex::setShared(WalkingMetadataIndex::make());
  home.file("Downloads/Setup.pkg", 300);
  home.file("Desktop/Old.PKG", 700);
  home.directory("Installers/Bundle.pkg/Contents");
  home.file("Library/Caches/.cache/Hidden.pkg", 900);
  auto packages =
      std::make_shared<SpotlightQueryProcedure>(MetadataPredicate::fromFormat("(_kMDItemFileName LIKE[cd] '*.pkg')"));
  auto nothing = std::make_shared<SpotlightQueryProcedure>(MetadataPredicate::fromFormat("(kMDItemFSSize > 100000000)"));
  ASSERT_TRUE(run(packages));
  ASSERT_TRUE(run(nothing));
  // The folder that matches is a file node of the size the index gives it.
  EXPECT_EQ(pathsAndSizes(*packages), (std::vector<std::pair<std::string, std::int64_t>>{
                                          {home.path("Desktop/Old.PKG"), 700},
                                          {home.path("Downloads/Setup.pkg"), 300},
                                          {home.path("Installers/Bundle.pkg"), 0}}));
  ASSERT_TRUE(nothing->successValue());
  EXPECT_TRUE(nothing->successValue()->empty());
}

TEST_F(SpotlightQueryProcedureTest, IgnoresOtherQueriesAndStillFinishesWhenCancelled) {
  auto index = std::make_shared<FakeIndex>();
  MetadataIndex::setShared(index);
  auto procedure = std::make_shared<SpotlightQueryProcedure>(MetadataPredicate::fromFormat("kMDItemFSSize > 1"));
  queue.addOperation(procedure);
  ASSERT_TRUE(MainQueue::runUntil(
      [&] {
        std::lock_guard lock(index->mutex);
        return index->lastGathering != nullptr;
      },
      20));
  auto& center = platform::NotificationCenter::defaultCenter();
  center.post(std::string(MetadataQuery::didFinishGatheringNotification), std::any(MetadataQuery::make(index)));
  center.post(std::string(MetadataQuery::didFinishGatheringNotification));
  center.post(std::string(MetadataQuery::didFinishGatheringNotification), std::any(std::string("query")));
  MainQueue::runFor(0.05);
  EXPECT_FALSE(procedure->isFinished());

  procedure->cancel();
  ASSERT_TRUE(MainQueue::runUntil([&] { return procedure->isFinished(); }, 20));
  EXPECT_TRUE(procedure->output().isPending());
  std::lock_guard lock(index->mutex);
  EXPECT_TRUE(index->lastGathering->cancelled);
}

TEST_F(SpotlightQueryProcedureTest, CancelledBeforeItStartsFinishesWithoutQuerying) {
  auto index = std::make_shared<FakeIndex>();
  MetadataIndex::setShared(index);
  auto procedure = std::make_shared<SpotlightQueryProcedure>(MetadataPredicate::fromFormat("kMDItemFSSize > 1"));
  procedure->cancel();
  ASSERT_TRUE(run(procedure));
  EXPECT_TRUE(procedure->output().isPending());
  MainQueue::runFor(0.02);
  std::lock_guard lock(index->mutex);
  EXPECT_EQ(index->lastGathering, nullptr);
}

}  // namespace
}  // namespace vantelkit
