// How to show a screen that must load first: a placeholder view controller shown meanwhile,
// a procedure that loads the real one, and an optional hook called before one replaces the
// other. The library stores the three and leaves their use to the host.
// Thread safety: a value type; one owner at a time.
#pragma once

#include <functional>
#include <memory>

#include "vantelkit/platform/ViewController.h"

namespace vantelkit {

class Procedure;

struct LoadableViewControllerConstructor {
  // Receives the loaded view controller.
  using LoadedCallback = std::function<void(std::shared_ptr<ViewController>)>;
  // Called when loading ends without a view controller.
  using FailedCallback = std::function<void()>;

  // Builds the procedure that loads the real view controller and reports through one of the
  // two callbacks.
  std::function<std::shared_ptr<Procedure>(LoadedCallback, FailedCallback)> viewControllerLoadingProcedure;
  // Called with (placeholder, loaded) before the loaded view controller replaces the
  // placeholder; empty for none.
  std::function<void(std::shared_ptr<ViewController>, std::shared_ptr<ViewController>)> willPresent;
  // Builds the placeholder shown while loading.
  std::function<std::shared_ptr<ViewController>()> loadingViewController;
};

}  // namespace vantelkit
