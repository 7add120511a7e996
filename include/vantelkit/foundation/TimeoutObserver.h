// Cancels a procedure with ProcedureKitError::timedOut once a delay has passed after it
// started executing without finishing, then finishes it with the same error so that it
// does not keep its queue busy; a finish() the procedure makes later is ignored.
// Thread safety: attach with Procedure::addObserver; the timer fires on the shared pool and
// holds the procedure weakly.
#pragma once

#include "vantelkit/foundation/GeneralError.h"
#include "vantelkit/foundation/ProcedureObserver.h"

namespace vantelkit {

class TimeoutObserver final : public ProcedureObserver {
 public:
  // After seconds from the start of execution.
  explicit TimeoutObserver(double seconds) : _delay(Delay::by(seconds)) {}
  // At date (seconds since 1970 on the system clock).
  explicit TimeoutObserver(Date date) : _delay(Delay::until(date)) {}

  const Delay& delay() const { return _delay; }
  void willExecute(Procedure& procedure) override;

 private:
  Delay _delay;
};

}  // namespace vantelkit
