#include "vantelkit/foundation/DisplayLink.h"

#include <gtest/gtest.h>

#include "support/FakePlatformLog.h"
#include "support/FakeRefreshSource.h"

namespace vantelkit {
namespace {

using fakes::FakePlatformLog;
using fakes::FakeRefreshSource;

bool startsWith(const std::string& text, std::string_view prefix) { return text.rfind(prefix, 0) == 0; }
bool endsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Links on the main queue, drained by the test thread: no other thread runs the callback.
class DisplayLinkTest : public ::testing::Test {
 protected:
  std::shared_ptr<DisplayLink> makeLink() {
    auto source = std::make_unique<FakeRefreshSource>();
    refresh = source->control();
    auto link = DisplayLink::make(DispatchQueue::main(), std::move(source));
    link->setCallback([this] { ++callbacks; });
    return link;
  }

  FakePlatformLog log;
  std::shared_ptr<FakeRefreshSource::Control> refresh;
  int callbacks = 0;
};

TEST_F(DisplayLinkTest, FailuresToSetUpAreLoggedAndReturnNothing) {
  EXPECT_EQ(DisplayLink::make(DispatchQueue::main(), nullptr), nullptr);

  auto refusesOutput = std::make_unique<FakeRefreshSource>();
  refusesOutput->control()->failSetOutput = true;
  EXPECT_EQ(DisplayLink::make(DispatchQueue::main(), std::move(refusesOutput)), nullptr);

  auto noDisplay = std::make_unique<FakeRefreshSource>();
  noDisplay->control()->failBind = true;
  EXPECT_EQ(DisplayLink::make(DispatchQueue::main(), std::move(noDisplay)), nullptr);

  EXPECT_EQ(log.lines(), (std::vector<std::string>{"Failed to create timer with active display",
                                                   "Failed to create timer with active display",
                                                   "Failed to connect to display"}));
}

TEST_F(DisplayLinkTest, RunsTheCallbackOnItsQueueAfterStart) {
  auto link = makeLink();
  EXPECT_FALSE(link->running());
  EXPECT_FALSE(refresh->tick());  // not started: no refresh reaches the link

  link->start();
  link->start();
  EXPECT_TRUE(link->running());
  EXPECT_EQ(refresh->starts(), 1);
  ASSERT_TRUE(refresh->tick());
  EXPECT_TRUE(MainQueue::runUntil([&] { return callbacks == 1; }, 10));
}

TEST_F(DisplayLinkTest, RefreshesWaitingForTheQueueAreMergedIntoOneCallback) {
  auto link = makeLink();
  link->start();
  for (int i = 0; i < 25; ++i) refresh->tick();
  EXPECT_TRUE(MainQueue::runUntil([&] { return callbacks >= 1; }, 10));
  MainQueue::drain();
  EXPECT_EQ(callbacks, 1);
}

TEST_F(DisplayLinkTest, CancelOfANeverStartedLinkLogsOnlyTheFirstLine) {
  auto link = makeLink();
  link->cancel();
  auto lines = log.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(startsWith(lines[0], "Cancelling display link <")) << lines[0];
  EXPECT_TRUE(endsWith(lines[0], "...")) << lines[0];
}

TEST_F(DisplayLinkTest, CancelStopsARunningLinkForGood) {
  auto link = makeLink();
  link->start();
  link->cancel();
  EXPECT_FALSE(link->running());
  EXPECT_EQ(refresh->stops(), 1);

  auto lines = log.lines();
  ASSERT_EQ(lines.size(), 2u);
  std::string description = lines[0].substr(std::string("Cancelling display link ").size());
  description.resize(description.size() - 3);
  EXPECT_EQ(lines[1], "Cancelled display link " + description + "!");

  // Single use: start() after cancel() does nothing, and nothing is delivered.
  link->start();
  EXPECT_FALSE(link->running());
  EXPECT_FALSE(refresh->tick());
  MainQueue::drain();
  EXPECT_EQ(callbacks, 0);
}

TEST_F(DisplayLinkTest, DestroyingCancelsARunningLinkAndReleasesANeverStartedOne) {
  { auto neverStarted = makeLink(); }
  EXPECT_TRUE(log.lines().empty());

  {
    auto running = makeLink();
    running->start();
  }
  EXPECT_EQ(refresh->stops(), 1);
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_TRUE(startsWith(log.lines()[1], "Cancelled display link "));
}

TEST_F(DisplayLinkTest, PendingRefreshAfterTheLinkIsGoneDoesNothing) {
  auto link = makeLink();
  link->start();
  refresh->tick();
  link.reset();
  MainQueue::drain();
  EXPECT_EQ(callbacks, 0);
}

}  // namespace
}  // namespace vantelkit
