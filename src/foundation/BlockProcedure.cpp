#include "vantelkit/foundation/BlockProcedure.h"

namespace vantelkit {

void BlockProcedure::execute() {
  _executed.store(true);
  if (_finishesItself) {
    SelfBlock block = std::move(_selfBlock);
    _selfBlock = nullptr;
    block(*this);
  } else {
    ErrorBlock block = std::move(_errorBlock);
    _errorBlock = nullptr;
    ErrorPtr error = block();
    block = nullptr;
    finish(std::move(error));
  }
}

void BlockProcedure::procedureDidFinish(const ErrorPtr&) {
  if (_executed.load()) return;
  _selfBlock = nullptr;
  _errorBlock = nullptr;
}

}  // namespace vantelkit
