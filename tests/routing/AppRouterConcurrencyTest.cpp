#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>

#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/routing/AppRouter.h"

namespace vantelkit {
namespace {

constexpr double kWaitSeconds = 30.0;

// Routings started back to back cancel each other while their procedures run on pool threads:
// every started routing is reported exactly once, and the handlers that did run belong to
// routings that were started.
TEST(AppRouterConcurrencyTest, BackToBackRoutingsAreEachReportedOnce) {
  auto router = AppRouter::create();
  std::atomic<int> handled{0};
  std::mutex mutex;
  std::multiset<std::string> handledPaths;  // guarded by mutex
  router->add([](const RouteInfo&) -> std::shared_ptr<Procedure> { return std::make_shared<BlockProcedure>([] {}); });
  router->add("item/:n", [&](const RouteInfo& info) -> std::shared_ptr<Procedure> {
    ++handled;
    {
      std::lock_guard lock(mutex);
      handledPaths.insert(info.variables.at("n"));
    }
    return std::make_shared<BlockProcedure>([] {});
  });
  std::multiset<std::string> reported;  // main queue
  router->addDidRouteCallback([&](const URL& url) { reported.insert(url.lastPathComponent()); });

  constexpr int kRoutings = 200;
  for (int i = 0; i < kRoutings; ++i) {
    ASSERT_TRUE(router->route(*URL::parse("https://h/item/" + std::to_string(i)), AppRouter::Context::app));
    if (i % 10 == 0) MainQueue::drain();
  }
  ASSERT_TRUE(MainQueue::runUntil([&] { return reported.size() >= static_cast<std::size_t>(kRoutings); },
                                  kWaitSeconds));
  ASSERT_TRUE(MainQueue::runUntil([&] { return router->operationQueue().operationCount() == 0; }, kWaitSeconds));
  MainQueue::runFor(0.05);

  EXPECT_EQ(reported.size(), static_cast<std::size_t>(kRoutings));
  for (int i = 0; i < kRoutings; ++i) EXPECT_EQ(reported.count(std::to_string(i)), 1u) << i;
  std::lock_guard lock(mutex);
  EXPECT_LE(handled.load(), kRoutings);
  EXPECT_GE(handled.load(), 1);  // the last routing is never cancelled
  EXPECT_EQ(handledPaths.count(std::to_string(kRoutings - 1)), 1u);
  for (const auto& path : handledPaths) EXPECT_EQ(handledPaths.count(path), 1u) << path;
}

}  // namespace
}  // namespace vantelkit
