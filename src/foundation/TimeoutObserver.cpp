#include "vantelkit/foundation/TimeoutObserver.h"

#include <chrono>

#include "vantelkit/foundation/Procedure.h"

namespace vantelkit {

void TimeoutObserver::willExecute(Procedure& procedure) {
  double seconds = 0;
  if (auto interval = _delay.interval()) {
    seconds = *interval;
  } else if (auto date = _delay.date()) {
    auto now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    seconds = date->secondsSince1970 - now;
  }
  std::weak_ptr<Operation> weakProcedure = procedure.weak_from_this();
  Delay delay = _delay;
  DispatchQueue::global()->asyncAfter(dispatchTimeAfter(seconds), [weakProcedure, delay] {
    auto strong = std::static_pointer_cast<Procedure>(weakProcedure.lock());
    if (!strong || strong->isFinished()) return;
    auto error = makeError<ProcedureKitError>(ProcedureKitError::timedOut(delay));
    strong->cancel(error);
    // Whatever the procedure does on cancellation, the time-out ends it; its own later
    // finish() is then ignored.
    strong->finishRequest(error, true);
  });
}

}  // namespace vantelkit
