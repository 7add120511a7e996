// A procedure for cancellation races: it runs until it sees the cancellation and then
// finishes at once. Its cancel hook can be made slow: it then returns only after the finish
// request (or after a bound), so that the finish comes while cancel() is still running.
// Thread safety: as any procedure.
#pragma once

#include <chrono>

#include "support/BoundedWait.h"
#include "vantelkit/foundation/Procedure.h"

namespace vantelkit::testing {

class EndsWhenCancelled : public Procedure {
 public:
  explicit EndsWhenCancelled(bool slowCancelHook) : _slowCancelHook(slowCancelHook) {}
  // Opened once finish() has returned in execute().
  Gate finishRequested;
  // Waits, bounded, until execute() has requested the finish.
  void waitForFinishRequest() { finishRequested.wait(std::chrono::milliseconds(2000)); }

 protected:
  void execute() override {
    waitUntil([&] { return isCancelled(); });
    finish();
    finishRequested.open();
  }
  void procedureDidCancel(const ErrorPtr&) override {
    if (_slowCancelHook) waitForFinishRequest();
  }

 private:
  bool _slowCancelHook;
};

}  // namespace vantelkit::testing
