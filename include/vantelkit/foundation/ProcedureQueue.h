// The queue that runs procedures and plain operations (an OperationQueue).
// Thread safety: every member is safe to call from any thread.
#pragma once

#include <memory>
#include <string>

#include "vantelkit/foundation/Operation.h"

namespace vantelkit {

class ProcedureQueue : public OperationQueue {
 public:
  using OperationQueue::OperationQueue;

  // A new queue that runs one operation at a time.
  static std::unique_ptr<ProcedureQueue> serial(std::string name = {});
  // The dispatch queue procedures run on when nothing else is given: the shared pool.
  static std::shared_ptr<DispatchQueue> defaultDispatchQueue();
};

}  // namespace vantelkit
