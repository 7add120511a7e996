// What to show and how: a presentation names view controllers and a method, and the host's
// presentation performer shows them. The library checks that there is something to show and
// someone to show it, and logs an error instead of presenting otherwise.
// Thread safety: main queue only, except defaultPerformer(), which is safe from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/platform/ViewController.h"

namespace vantelkit {

class ViewControllerPresentationPerformer;

struct ViewControllerPresentation {
  // How the view controllers are shown. The flag of modal and replaceRoot means what the
  // performer makes of it.
  class Method {
   public:
    enum class Case { modal, replaceRoot, push, overlay };

    static Method modal(bool flag) { return Method(Case::modal, flag); }
    static Method replaceRoot(bool flag) { return Method(Case::replaceRoot, flag); }
    static Method push() { return Method(Case::push, false); }
    static Method overlay() { return Method(Case::overlay, false); }

    Case value() const { return _value; }
    // The flag of modal and replaceRoot; false for the others.
    bool flag() const { return _flag; }

    bool operator==(const Method&) const = default;

   private:
    Method(Case value, bool flag) : _value(value), _flag(flag) {}
    Case _value;
    bool _flag;
  };

  // A presentation through the default performer of the moment.
  ViewControllerPresentation(std::vector<std::shared_ptr<ViewController>> viewControllers, Method method,
                             bool animated = true, bool acceptsDeference = true,
                             std::function<void()> onPresentationPerformed = {});
  ViewControllerPresentation(std::shared_ptr<ViewControllerPresentationPerformer> performer,
                             std::vector<std::shared_ptr<ViewController>> viewControllers, Method method,
                             bool animated = true, bool acceptsDeference = true,
                             std::function<void()> onPresentationPerformed = {});

  // Hands this presentation to the performer. Without performer, or without view controllers,
  // logs a ViewControllerPresentationError and presents nothing.
  void perform() const;

  // The performer new presentations use; initially none. Replacing one that was set logs a warning.
  static std::shared_ptr<ViewControllerPresentationPerformer> defaultPerformer();
  static void setDefaultPerformer(std::shared_ptr<ViewControllerPresentationPerformer> performer);

  std::shared_ptr<ViewControllerPresentationPerformer> performer;
  std::vector<std::shared_ptr<ViewController>> viewControllers;
  Method method;
  bool animated;
  bool acceptsDeference;
  // Called by the performer when it is done; never empty (a closure that does nothing by default).
  std::function<void()> onPresentationPerformed;
};

class ViewControllerPresentationError final : public Error {
 public:
  enum class Case { unsupportedPresentationMethod, noViewControllersToPresent, noPresentationPerformer };

  ViewControllerPresentationError(Case value, ViewControllerPresentation presentation)
      : _value(value), _presentation(std::move(presentation)) {}

  Case value() const { return _value; }
  const ViewControllerPresentation& presentation() const { return _presentation; }

  std::string typeName() const override { return "ViewControllerPresentationError"; }
  std::string description() const override;

 private:
  Case _value;
  ViewControllerPresentation _presentation;
};

// Shows presentations; supplied by the host. Calling onPresentationPerformed is its duty; a
// method it cannot show it reports as ViewControllerPresentationError::Case::unsupportedPresentationMethod.
class ViewControllerPresentationPerformer {
 public:
  virtual ~ViewControllerPresentationPerformer() = default;
  virtual void performPresentation(const ViewControllerPresentation& presentation) = 0;
};

// A marker for view controllers that a performer may treat specially when it shows them modally.
class CustomModalCloseButtonPresentable {
 public:
  virtual ~CustomModalCloseButtonPresentable() = default;
};

}  // namespace vantelkit
