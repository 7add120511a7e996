#include "vantelkit/foundation/ListenerRegistry.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "vantelkit/platform/DispatchQueue.h"

namespace {

using vantelkit::ListenerRegistry;
using vantelkit::MainQueue;

struct Recorder {
  std::vector<std::string> heard;
};

// Runs everything the main queue holds; this thread drains it.
void deliver() { MainQueue::runUntil([] { return MainQueue::pendingCount() == 0; }, 5); }

TEST(ListenerRegistryTest, ANotificationReachesWhoIsRegisteredWhenItIsDelivered) {
  auto early = std::make_shared<Recorder>();
  auto late = std::make_shared<Recorder>();
  auto gone = std::make_shared<Recorder>();
  ListenerRegistry<Recorder> registry;
  registry.add(early);
  registry.add(gone);
  registry.notify([](Recorder& recorder) { recorder.heard.push_back("first"); });
  registry.add(late);
  registry.remove(gone);
  deliver();

  EXPECT_EQ(early->heard, std::vector<std::string>{"first"});
  EXPECT_EQ(late->heard, std::vector<std::string>{"first"});
  EXPECT_TRUE(gone->heard.empty());
  EXPECT_EQ(registry.listeners(), (std::vector<std::shared_ptr<Recorder>>{early, late}));
}

TEST(ListenerRegistryTest, NothingIsDeliveredOnceTheRegistryIsGone) {
  auto listener = std::make_shared<Recorder>();
  auto registry = std::make_unique<ListenerRegistry<Recorder>>();
  registry->add(listener);
  registry->notify([](Recorder& recorder) { recorder.heard.push_back("late"); });
  registry.reset();
  deliver();
  EXPECT_TRUE(listener->heard.empty());
}

}  // namespace
