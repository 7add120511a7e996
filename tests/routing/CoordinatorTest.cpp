#include "vantelkit/routing/Coordinator.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/CapturingLogger.h"

namespace vantelkit {
namespace {

using Activity = CoordinatorState::Activity;
using testing::CapturingLogger;
using testing::ScopedLogLevel;

struct Change {
  Coordinator* coordinator;
  CoordinatorState from;
  CoordinatorState to;
};

class RecordingDelegate final : public CoordinatorDelegate {
 public:
  void coordinatorDidChangeState(Coordinator& coordinator, const CoordinatorState& previousState) override {
    changes.push_back({&coordinator, previousState, coordinator.state()});
  }
  std::vector<Change> changes;
};

class CountingCoordinator final : public BaseCoordinator {
 public:
  int starts = 0, stops = 0, pauses = 0, resumes = 0;
  std::string description() const override { return "CountingCoordinator"; }

 protected:
  void executeStart() override { ++starts; }
  void executeStop() override { ++stops; }
  void executePause() override { ++pauses; }
  void executeResume() override { ++resumes; }
};

class CoordinatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CapturingLogger::shared().clear();
    coordinator->setCoordinatorDelegate(delegate);
  }
  std::size_t logLines(const std::string& function) {
    return CapturingLogger::shared().linesContaining("-> " + function + " [").size();
  }

  ScopedLogLevel _level{LogLevel::debug};
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<CountingCoordinator> coordinator = std::make_shared<CountingCoordinator>();
};

TEST_F(CoordinatorTest, StartRunsOnceFromStoppedAndIsToldOnce) {
  EXPECT_EQ(coordinator->state(), (CoordinatorState{Activity::stopped, false}));
  coordinator->start();
  coordinator->start();
  EXPECT_EQ(coordinator->starts, 1);
  ASSERT_EQ(delegate->changes.size(), 1u);
  EXPECT_EQ(delegate->changes[0].coordinator, coordinator.get());
  EXPECT_EQ(delegate->changes[0].from.activity, Activity::stopped);
  EXPECT_EQ(delegate->changes[0].to.activity, Activity::active);
  EXPECT_EQ(logLines("start()"), 1u);
  EXPECT_EQ(CapturingLogger::shared().linesContaining("\xF0\x9F\x94\x80").size(), 1u);
  EXPECT_EQ(CapturingLogger::shared().linesContaining(": CountingCoordinator").size(), 1u);
}

TEST_F(CoordinatorTest, OperationsInTheWrongStateDoNothing) {
  coordinator->pause();
  coordinator->resume();
  coordinator->stop();
  EXPECT_TRUE(delegate->changes.empty());
  coordinator->start();
  coordinator->resume();
  EXPECT_EQ(coordinator->resumes, 0);
  EXPECT_EQ(delegate->changes.size(), 1u);
  EXPECT_EQ(coordinator->pauses + coordinator->stops, 0);
  EXPECT_EQ(logLines("pause()") + logLines("resume()") + logLines("stop()"), 0u);
}

TEST_F(CoordinatorTest, StoppingAPausedCoordinatorStopsAndDropsItsChildren) {
  auto first = std::make_shared<CountingCoordinator>();
  auto second = std::make_shared<CountingCoordinator>();
  coordinator->setChildren({{"first", first}, {"second", second}});
  coordinator->start();
  first->start();
  second->start();
  coordinator->pause();
  EXPECT_EQ(first->state().activity, Activity::paused);
  EXPECT_EQ(second->state().activity, Activity::paused);
  EXPECT_EQ(coordinator->children().size(), 2u);

  delegate->changes.clear();
  coordinator->stop();
  EXPECT_EQ(first->state().activity, Activity::stopped);
  EXPECT_EQ(second->state().activity, Activity::stopped);
  EXPECT_EQ(first->stops + second->stops, 2);
  EXPECT_TRUE(coordinator->children().empty());
  ASSERT_EQ(delegate->changes.size(), 1u);
  EXPECT_EQ(delegate->changes[0].from.activity, Activity::paused);
  EXPECT_EQ(delegate->changes[0].to.activity, Activity::stopped);
}

TEST_F(CoordinatorTest, ResumeLeavesChildrenPaused) {
  auto child = std::make_shared<CountingCoordinator>();
  coordinator->setChildren({{"child", child}});
  coordinator->start();
  child->start();
  coordinator->pause();
  coordinator->resume();
  EXPECT_EQ(coordinator->state().activity, Activity::active);
  EXPECT_EQ(coordinator->resumes, 1);
  EXPECT_EQ(child->state().activity, Activity::paused);
  EXPECT_EQ(logLines("pause()"), 2u);
  EXPECT_EQ(logLines("resume()"), 1u);
}

TEST_F(CoordinatorTest, OnlyAChangedStateIsTold) {
  coordinator->setState({Activity::stopped, false});
  EXPECT_TRUE(delegate->changes.empty());
  coordinator->setState({Activity::stopped, true});
  ASSERT_EQ(delegate->changes.size(), 1u);
  EXPECT_FALSE(delegate->changes[0].from.isBlocking);
  coordinator->start();
  EXPECT_TRUE(coordinator->state().isBlocking);  // the life cycle keeps isBlocking
}

TEST_F(CoordinatorTest, TheDelegateIsHeldWeaklyAndMayDropTheCoordinator) {
  std::weak_ptr<RecordingDelegate> weakDelegate = delegate;
  delegate.reset();
  EXPECT_TRUE(weakDelegate.expired());
  coordinator->start();  // nobody to tell
  EXPECT_FALSE(coordinator->coordinatorDelegate());

  // A delegate that releases the last owner of the coordinator while being told.
  class Dropping final : public CoordinatorDelegate {
   public:
    std::shared_ptr<CountingCoordinator> owned;
    void coordinatorDidChangeState(Coordinator&, const CoordinatorState&) override { owned.reset(); }
  };
  auto dropping = std::make_shared<Dropping>();
  dropping->owned = std::make_shared<CountingCoordinator>();
  std::weak_ptr<CountingCoordinator> weakCoordinator = dropping->owned;
  dropping->owned->setCoordinatorDelegate(dropping);
  weakCoordinator.lock()->start();
  EXPECT_TRUE(weakCoordinator.expired());
}

}  // namespace
}  // namespace vantelkit
