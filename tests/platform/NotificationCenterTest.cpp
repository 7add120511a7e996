#include "vantelkit/platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/FakePlatformLog.h"

namespace vantelkit::platform {
namespace {

TEST(NotificationCenterTest, DeliversByNameWithObjectAndUserInfo) {
  NotificationCenter center;
  std::vector<std::string> named;
  std::vector<std::string> all;
  int objectSeen = 0;
  std::string userInfoSeen;
  center.addObserver("a", [&](const Notification& n) {
    named.push_back(n.name);
    if (auto* value = std::any_cast<int>(&n.object)) objectSeen = *value;
    if (n.userInfo) userInfoSeen = std::any_cast<std::string>(n.userInfo->at("key"));
  });
  center.addObserver(std::nullopt, [&](const Notification& n) { all.push_back(n.name); });

  center.post("a", 42, Notification::UserInfo{{"key", std::string("value")}});
  center.post("b");

  EXPECT_EQ(named, (std::vector<std::string>{"a"}));
  EXPECT_EQ(all, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(objectSeen, 42);
  EXPECT_EQ(userInfoSeen, "value");
}

TEST(NotificationCenterTest, ObserversRunInRegistrationOrder) {
  NotificationCenter center;
  std::vector<int> order;
  for (int i = 0; i < 5; ++i) center.addObserver("n", [&order, i](const Notification&) { order.push_back(i); });
  center.post("n");
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(NotificationCenterTest, RemovedObserverIsNotCalledAndUnknownTokensAreIgnored) {
  NotificationCenter center;
  int calls = 0;
  auto token = center.addObserver("n", [&](const Notification&) { ++calls; });
  center.post("n");
  center.removeObserver(token);
  center.removeObserver(token);
  center.removeObserver(NotificationCenter::ObserverToken{987654});
  center.post("n");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(center.observerCount(), 0u);
}

TEST(NotificationCenterTest, ObserverMayRemoveItselfAndPostFromItsCallback) {
  NotificationCenter center;
  int selfRemovingCalls = 0;
  int nestedCalls = 0;
  NotificationCenter::ObserverToken self;
  self = center.addObserver("outer", [&](const Notification&) {
    ++selfRemovingCalls;
    center.removeObserver(self);
    center.post("inner");
  });
  center.addObserver("inner", [&](const Notification&) { ++nestedCalls; });

  center.post("outer");
  center.post("outer");

  EXPECT_EQ(selfRemovingCalls, 1);
  EXPECT_EQ(nestedCalls, 1);
}

TEST(NotificationCenterTest, ObserverRemovedByAnEarlierObserverOfTheSamePostIsSkipped) {
  NotificationCenter center;
  int laterCalls = 0;
  NotificationCenter::ObserverToken later;
  center.addObserver("n", [&](const Notification&) { center.removeObserver(later); });
  later = center.addObserver("n", [&](const Notification&) { ++laterCalls; });
  center.post("n");
  EXPECT_EQ(laterCalls, 0);
}

TEST(NotificationCenterTest, ThrowingObserverIsLoggedAndOthersStillRun) {
  fakes::FakePlatformLog log;
  NotificationCenter center;
  int calls = 0;
  center.addObserver("n", [](const Notification&) { throw std::runtime_error("boom"); });
  center.addObserver("n", [&](const Notification&) { ++calls; });
  center.post("n");
  EXPECT_EQ(calls, 1);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("boom"), std::string::npos);
}

}  // namespace
}  // namespace vantelkit::platform
