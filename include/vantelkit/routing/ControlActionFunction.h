// Closures as control actions. A control type T that derives from Control and from
// ControlActionFunctionProtocol<T> gains actionCallback (a closure called with the control when
// its action fires) and setup (configure the control inline).
// Thread safety: main queue only, like the controls themselves.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "vantelkit/platform/Control.h"
#include "vantelkit/platform/ObjectAttachments.h"

namespace vantelkit {

// The action name the trampoline answers to.
inline constexpr std::string_view kActionTrampolineSelector = "performActionWithSender:";

// The one process-wide key under which a control keeps its trampoline.
const AttachmentKey& actionTrampolineKey();

// The target that forwards a control's action to a closure. The control owns it through its
// attachments, since a control holds its target only weakly.
template <class T>
class ActionTrampoline final : public Attachment, public ActionTarget {
 public:
  explicit ActionTrampoline(std::function<void(T&)> action) : action(std::move(action)) {}

  // Calls action for a sender of type T; another sender or selector is not performed.
  bool performAction(std::string_view selector, Control& sender) override {
    if (selector != kActionTrampolineSelector) return false;
    auto* control = dynamic_cast<T*>(&sender);
    if (!control || !action) return false;
    action(*control);
    return true;
  }

  std::function<void(T&)> action;
};

template <class T>
class ControlActionFunctionProtocol {
 public:
  // A closure that calls the attached trampoline's action, or empty when the control's action
  // was not set through setActionCallback (or was set for another control type).
  std::function<void(T&)> actionCallback() const {
    auto trampoline = std::dynamic_pointer_cast<ActionTrampoline<T>>(control().attachments().get(actionTrampolineKey()));
    if (!trampoline) return {};
    return [trampoline](T& sender) {
      if (trampoline->action) trampoline->action(sender);
    };
  }

  // A closure makes a new trampoline the control's target and action and attaches it,
  // replacing an earlier one. An empty closure detaches the trampoline; target and action are
  // then left as they are (the target, held weakly, goes away with it).
  void setActionCallback(std::function<void(T&)> callback) {
    T& self = control();
    if (!callback) {
      self.attachments().remove(actionTrampolineKey());
      return;
    }
    auto trampoline = std::make_shared<ActionTrampoline<T>>(std::move(callback));
    self.setTarget(trampoline);
    self.setAction(std::string(kActionTrampolineSelector));
    self.attachments().set(actionTrampolineKey(), std::move(trampoline));
  }

  // Calls block with the control and returns the control.
  T& setup(const std::function<void(T&)>& block) {
    block(control());
    return control();
  }

 protected:
  ControlActionFunctionProtocol() = default;
  ~ControlActionFunctionProtocol() = default;

 private:
  T& control() { return static_cast<T&>(*this); }
  const T& control() const { return static_cast<const T&>(*this); }
};

}  // namespace vantelkit
