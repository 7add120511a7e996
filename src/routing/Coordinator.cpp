#include "vantelkit/routing/Coordinator.h"

#include <fmt/format.h>

#include "vantelkit/foundation/Logging.h"

namespace vantelkit {
namespace {

constexpr std::string_view kCoordinatorMark = "\xF0\x9F\x94\x80";  // twisted rightwards arrows

}  // namespace

void BaseCoordinator::setState(CoordinatorState state) {
  const CoordinatorState previous = _state;
  _state = state;
  if (previous == state) return;
  if (auto delegate = coordinatorDelegate()) delegate->coordinatorDidChangeState(*this, previous);
}

void BaseCoordinator::setActivity(CoordinatorState::Activity activity) {
  CoordinatorState state = _state;
  state.activity = activity;
  setState(state);
}

void BaseCoordinator::start() {
  const auto keepAlive = weak_from_this().lock();  // the delegate may drop the last owner
  if (_state.activity != CoordinatorState::Activity::stopped) return;
  setActivity(CoordinatorState::Activity::active);
  executeStart();
  LogDebug(description(), kCoordinatorMark, LogLocation(__FILE__, "start()", __LINE__));
}

void BaseCoordinator::stop() {
  const auto keepAlive = weak_from_this().lock();  // the delegate may drop the last owner
  if (_state.activity == CoordinatorState::Activity::stopped) return;
  setActivity(CoordinatorState::Activity::stopped);
  // A child may change this coordinator's children while it stops: walk a copy.
  const Children children = _children;
  for (const auto& [name, child] : children) {
    if (child) child->stop();
  }
  _children.clear();
  executeStop();
  LogDebug(description(), kCoordinatorMark, LogLocation(__FILE__, "stop()", __LINE__));
}

void BaseCoordinator::pause() {
  const auto keepAlive = weak_from_this().lock();  // the delegate may drop the last owner
  if (_state.activity != CoordinatorState::Activity::active) return;
  setActivity(CoordinatorState::Activity::paused);
  const Children children = _children;
  for (const auto& [name, child] : children) {
    if (child) child->pause();
  }
  executePause();
  LogDebug(description(), kCoordinatorMark, LogLocation(__FILE__, "pause()", __LINE__));
}

void BaseCoordinator::resume() {
  const auto keepAlive = weak_from_this().lock();  // the delegate may drop the last owner
  if (_state.activity != CoordinatorState::Activity::paused) return;
  setActivity(CoordinatorState::Activity::active);
  executeResume();
  LogDebug(description(), kCoordinatorMark, LogLocation(__FILE__, "resume()", __LINE__));
}

std::string BaseCoordinator::description() const {
  return fmt::format("<BaseCoordinator: {}>", fmt::ptr(static_cast<const void*>(this)));
}

}  // namespace vantelkit
