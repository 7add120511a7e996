// Ready-made route handlers that present view controllers through the default presentation
// performer, and a procedure that stands for showing an error.
// Thread safety: the functions are safe to call from any thread; the producing functions they
// take run on the main queue.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/routing/AppRouter.h"
#include "vantelkit/routing/LoadableViewControllerConstructor.h"

namespace vantelkit {

class Procedure;

struct Routes {
  Routes() = delete;

  struct Performers {
    Performers() = delete;

    // A procedure that, on the main queue, calls viewControllers and presents what it produced
    // with the context's default presentation (animated, deference accepted), then finishes.
    static std::shared_ptr<Procedure> openViewControllersProcedure(
        const RouteInfo& info, std::function<std::vector<std::shared_ptr<ViewController>>()> viewControllers);
    // The same for one view controller.
    static std::shared_ptr<Procedure> openViewControllerProcedure(
        const RouteInfo& info, std::function<std::shared_ptr<ViewController>()> viewController);
    // A procedure that finishes on the main queue and presents nothing; the constructor is
    // the host's to use.
    static std::shared_ptr<Procedure> openLoadingViewControllerProcedure(
        const RouteInfo& info, LoadableViewControllerConstructor constructor);
  };
};

// A procedure that finishes on the main queue (at once when cancelled before it runs). The
// error is not shown by the library.
std::shared_ptr<Procedure> DisplayErrorProcedure(ErrorPtr error);

}  // namespace vantelkit
