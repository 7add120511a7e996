#include "vantelkit/foundation/ProcedureQueue.h"

namespace vantelkit {

std::unique_ptr<ProcedureQueue> ProcedureQueue::serial(std::string name) {
  auto queue = std::make_unique<ProcedureQueue>(std::move(name));
  queue->setMaxConcurrentOperationCount(1);
  return queue;
}

std::shared_ptr<DispatchQueue> ProcedureQueue::defaultDispatchQueue() { return DispatchQueue::global(); }

}  // namespace vantelkit
