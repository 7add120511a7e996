#include "vantelkit/routing/ViewControllerPresentation.h"

#include <mutex>

#include "vantelkit/foundation/Logging.h"

namespace vantelkit {
namespace {

struct DefaultPerformer {
  std::mutex mutex;
  std::shared_ptr<ViewControllerPresentationPerformer> performer;  // guarded by mutex
};

DefaultPerformer& defaultPerformerStorage() {
  static DefaultPerformer storage;
  return storage;
}

std::function<void()> orNothing(std::function<void()> block) {
  return block ? std::move(block) : [] {};
}

}  // namespace

ViewControllerPresentation::ViewControllerPresentation(std::vector<std::shared_ptr<ViewController>> viewControllers,
                                                       Method method, bool animated, bool acceptsDeference,
                                                       std::function<void()> onPresentationPerformed)
    : ViewControllerPresentation(defaultPerformer(), std::move(viewControllers), method, animated, acceptsDeference,
                                 std::move(onPresentationPerformed)) {}

ViewControllerPresentation::ViewControllerPresentation(
    std::shared_ptr<ViewControllerPresentationPerformer> performer,
    std::vector<std::shared_ptr<ViewController>> viewControllers, Method method, bool animated,
    bool acceptsDeference, std::function<void()> onPresentationPerformed)
    : performer(std::move(performer)),
      viewControllers(std::move(viewControllers)),
      method(method),
      animated(animated),
      acceptsDeference(acceptsDeference),
      onPresentationPerformed(orNothing(std::move(onPresentationPerformed))) {}

void ViewControllerPresentation::perform() const {
  using Case = ViewControllerPresentationError::Case;
  if (!performer) {
    LogError(ViewControllerPresentationError(Case::noPresentationPerformer, *this), std::nullopt,
             LogLocation(__FILE__, "perform()", __LINE__));
    return;
  }
  if (viewControllers.empty()) {
    LogError(ViewControllerPresentationError(Case::noViewControllersToPresent, *this), std::nullopt,
             LogLocation(__FILE__, "perform()", __LINE__));
    return;
  }
  performer->performPresentation(*this);
}

std::shared_ptr<ViewControllerPresentationPerformer> ViewControllerPresentation::defaultPerformer() {
  auto& storage = defaultPerformerStorage();
  std::lock_guard lock(storage.mutex);
  return storage.performer;
}

void ViewControllerPresentation::setDefaultPerformer(std::shared_ptr<ViewControllerPresentationPerformer> performer) {
  bool replaced = false;
  {
    auto& storage = defaultPerformerStorage();
    std::lock_guard lock(storage.mutex);
    replaced = storage.performer != nullptr;
    storage.performer.swap(performer);
  }
  // The previous performer is released and the warning written outside the lock.
  if (replaced) {
    LogWarning("Replacing default view controller presentation performer", std::nullopt,
               LogLocation(__FILE__, "defaultPerformer", __LINE__));
  }
}

std::string ViewControllerPresentationError::description() const {
  switch (_value) {
    case Case::unsupportedPresentationMethod: return "unsupportedPresentationMethod";
    case Case::noViewControllersToPresent: return "noViewControllersToPresent";
    case Case::noPresentationPerformer: return "noPresentationPerformer";
  }
  return "noPresentationPerformer";
}

}  // namespace vantelkit
