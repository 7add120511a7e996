#include "vantelkit/foundation/ProcedureHelpers.h"

#include <chrono>
#include <cmath>

#include "vantelkit/foundation/Logging.h"

namespace vantelkit {

MainQueueBlockProcedure::MainQueueBlockProcedure(std::function<void()> block)
    : BlockProcedure([block = std::move(block)](BlockProcedure& procedure) {
        auto self = procedure.sharedAs<BlockProcedure>();
        DispatchQueue::main()->async([self, block] {
          if (block) block();
          self->finish();
        });
      }) {}

void printProcedureError(const ErrorPtr& error) {
  if (!error) return;
  LogError(error, std::nullopt, LogLocation("Shared/Procedures/MainQueueFinishObserver", "ErrorPrinterObserver()", 33));
}

void delay(double seconds, std::function<void()> closure) {
  if (!closure) return;
  if (std::isnan(seconds) || seconds < 0) seconds = 0;
  auto now = std::chrono::steady_clock::now();
  double room = std::chrono::duration<double>(DispatchTime::max() - now).count();
  if (!std::isfinite(seconds) || seconds >= room || seconds >= 9.2e9) return;
  DispatchQueue::main()->asyncAfter(dispatchTimeAfter(seconds), std::move(closure));
}

}  // namespace vantelkit
