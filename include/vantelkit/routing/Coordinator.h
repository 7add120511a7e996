// Coordinators: the tree of objects that each own a part of the user interface and their child
// coordinators, with a small life cycle (active, paused, stopped) reported to a delegate.
// Thread safety: main queue only; nothing here carries a lock.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "vantelkit/platform/ObjectAttachments.h"

namespace vantelkit {

struct CoordinatorState {
  enum class Activity { active, paused, stopped };

  Activity activity = Activity::stopped;
  bool isBlocking = false;

  bool operator==(const CoordinatorState&) const = default;
};

class Coordinator;

class CoordinatorDelegate {
 public:
  virtual ~CoordinatorDelegate() = default;
  // The state of coordinator changed from previousState to coordinator.state().
  virtual void coordinatorDidChangeState(Coordinator& coordinator, const CoordinatorState& previousState) = 0;
};

class Coordinator {
 public:
  using Children = std::map<std::string, std::shared_ptr<Coordinator>>;

  Coordinator() = default;
  virtual ~Coordinator() = default;
  Coordinator(const Coordinator&) = delete;
  Coordinator& operator=(const Coordinator&) = delete;

  virtual std::shared_ptr<CoordinatorDelegate> coordinatorDelegate() const = 0;
  virtual void setCoordinatorDelegate(const std::shared_ptr<CoordinatorDelegate>& delegate) = 0;
  virtual Children children() const = 0;
  virtual CoordinatorState state() const = 0;
  virtual void start() = 0;
  virtual void stop() = 0;
  virtual void pause() = 0;
  virtual void resume() = 0;
};

// A coordinator that keeps the life cycle: start from stopped, pause from active, resume from
// paused, stop from either (stopping and dropping every child). An operation called in another
// state does nothing. Subclasses put their work in the execute functions and set isBlocking
// through setState().
class BaseCoordinator : public Coordinator,
                        public PlatformObject,
                        public std::enable_shared_from_this<BaseCoordinator> {
 public:
  BaseCoordinator() = default;

  // The delegate is held weakly: null once it is gone.
  std::shared_ptr<CoordinatorDelegate> coordinatorDelegate() const override { return _coordinatorDelegate.lock(); }
  void setCoordinatorDelegate(const std::shared_ptr<CoordinatorDelegate>& delegate) override {
    _coordinatorDelegate = delegate;
  }
  Children children() const override { return _children; }
  virtual void setChildren(Children children) { _children = std::move(children); }
  CoordinatorState state() const override { return _state; }
  // Stores state; when activity or isBlocking changed, tells the delegate once.
  virtual void setState(CoordinatorState state);

  void start() override;
  void stop() override;
  void pause() override;
  void resume() override;

  // The text the life-cycle log lines show; by default the type and the address.
  virtual std::string description() const;

 protected:
  virtual void executeStart() {}
  virtual void executeStop() {}
  virtual void executePause() {}
  virtual void executeResume() {}

 private:
  void setActivity(CoordinatorState::Activity activity);

  std::weak_ptr<CoordinatorDelegate> _coordinatorDelegate;
  Children _children;
  CoordinatorState _state;
};

}  // namespace vantelkit
