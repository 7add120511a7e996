// The stand-in for a platform control: it holds a target (weakly, as the platform does) and an
// action name, and the host fires the action when the user acts on the control.
// Thread safety: main queue only.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "vantelkit/platform/ObjectAttachments.h"

namespace vantelkit {

class Control;

// The receiver of a control's action.
class ActionTarget {
 public:
  virtual ~ActionTarget() = default;
  // Performs the action named selector for sender; false when this target has no such action.
  virtual bool performAction(std::string_view selector, Control& sender) = 0;
};

class Control : public PlatformObject {
 public:
  // The target, held weakly: null once it is gone.
  std::shared_ptr<ActionTarget> target() const { return _target.lock(); }
  void setTarget(std::weak_ptr<ActionTarget> target) { _target = std::move(target); }
  const std::string& action() const { return _action; }
  void setAction(std::string selector) { _action = std::move(selector); }

  // Sends the action to the target, as the host does when the user acts on the control.
  // False when there is no target or action, or the target does not perform it.
  bool sendAction() {
    auto target = _target.lock();
    return target && !_action.empty() && target->performAction(_action, *this);
  }

 private:
  std::weak_ptr<ActionTarget> _target;
  std::string _action;
};

}  // namespace vantelkit
