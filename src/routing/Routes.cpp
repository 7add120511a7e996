#include "vantelkit/routing/Routes.h"

#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/platform/DispatchQueue.h"

namespace vantelkit {

std::shared_ptr<Procedure> Routes::Performers::openViewControllersProcedure(
    const RouteInfo& info, std::function<std::vector<std::shared_ptr<ViewController>>()> viewControllers) {
  const auto method = info.context.defaultPresentation();
  return std::make_shared<BlockProcedure>([method, viewControllers = std::move(viewControllers)](
                                              BlockProcedure& procedure) {
    auto self = procedure.sharedAs<BlockProcedure>();
    DispatchQueue::main()->async([self, method, viewControllers] {
      auto produced = viewControllers ? viewControllers() : std::vector<std::shared_ptr<ViewController>>{};
      ViewControllerPresentation(std::move(produced), method, true, true, [] {}).perform();
      self->finish();
    });
  });
}

std::shared_ptr<Procedure> Routes::Performers::openViewControllerProcedure(
    const RouteInfo& info, std::function<std::shared_ptr<ViewController>()> viewController) {
  return openViewControllersProcedure(info, [viewController = std::move(viewController)] {
    std::vector<std::shared_ptr<ViewController>> list;
    if (viewController) list.push_back(viewController());
    return list;
  });
}

std::shared_ptr<Procedure> Routes::Performers::openLoadingViewControllerProcedure(
    const RouteInfo& info, LoadableViewControllerConstructor constructor) {
  (void)info;
  (void)constructor;
  return std::make_shared<MainQueueBlockProcedure>([] {});
}

std::shared_ptr<Procedure> DisplayErrorProcedure(ErrorPtr error) {
  (void)error;
  return std::make_shared<BlockProcedure>([](BlockProcedure& procedure) {
    if (procedure.isCancelled()) {
      procedure.finish();
      return;
    }
    auto self = procedure.sharedAs<BlockProcedure>();
    DispatchQueue::main()->async([self] { self->finish(); });
  });
}

}  // namespace vantelkit
