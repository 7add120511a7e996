// Operations and operation queues: the base of procedures and of the disk scanner's
// traversal. An operation runs once, after all its dependencies have finished; a queue runs
// ready operations on pool threads, at most maxConcurrentOperationCount at a time.
// Thread safety: every member is safe to call from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vantelkit/platform/DispatchQueue.h"

namespace vantelkit {

class OperationQueue;

class Operation : public std::enable_shared_from_this<Operation> {
 public:
  Operation();
  virtual ~Operation();
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  // The work of a plain operation; runs on a queue thread. Not called when the operation was
  // cancelled before it started.
  virtual void main() {}
  // Runs the operation on the calling thread: by default main(), then the operation is
  // finished. Asynchronous subclasses (procedures) override it and call markFinished() when
  // their work is done. A queue calls start() once; calling it twice is ignored.
  virtual void start();
  // Marks the operation cancelled. A queued operation that has not started finishes without
  // running main() when its turn comes (still after its dependencies, so that dependencies
  // keep ordering even under cancellation); a running one sees isCancelled() and ends early
  // if it checks.
  virtual void cancel();

  bool isCancelled() const;
  bool isExecuting() const;
  bool isFinished() const;
  // True when every dependency has finished.
  bool isReady() const;

  // The operation starts only after dependency has finished (finished counts, whatever its
  // outcome). Adding a dependency after the operation has started has no effect.
  void addDependency(const std::shared_ptr<Operation>& dependency);
  // Adds each of dependencies in turn.
  void addDependencies(const std::vector<std::shared_ptr<Operation>>& dependencies);
  void removeDependency(const std::shared_ptr<Operation>& dependency);
  std::vector<std::shared_ptr<Operation>> dependencies() const;

  QualityOfService qualityOfService() const;
  void setQualityOfService(QualityOfService qos);
  std::string name() const;
  void setName(std::string name);
  // Runs once, on the finishing thread, after the operation has finished.
  void setCompletionBlock(std::function<void()> block);
  // Runs handler once, on the finishing thread, after the operation has finished and after
  // its completion block (at once, on the calling thread, when it has already finished).
  // Unlike the completion block, any number of handlers may be added.
  void addFinishHandler(std::function<void()> handler);

  // Blocks the calling thread until the operation has finished. With a timeout, answers
  // whether it finished in time.
  void waitUntilFinished();
  bool waitUntilFinished(double timeoutSeconds);

 protected:
  // For asynchronous subclasses: the end of the operation. Idempotent.
  void markFinished();
  // For subclasses that override start(): claims the single start. Answers false when the
  // operation has already started or finished; otherwise the operation is now executing.
  bool markExecuting();
  // Called once inside markFinished(), after isFinished() has become true and before
  // waiters, dependents and the queue learn of the end.
  virtual void operationDidFinish() {}

 private:
  struct State;
  std::shared_ptr<State> _state;
  friend class OperationQueue;
};

// A queue of operations. The queue keeps each operation alive until it has finished.
// Destroying a queue lets queued operations run to their end.
class OperationQueue {
 public:
  // A negative count lets the queue decide (as many as the pool allows); zero starts nothing
  // until the count is raised.
  static constexpr int kDefaultMaxConcurrentOperationCount = -1;

  explicit OperationQueue(std::string name = {});
  ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  void addOperation(std::shared_ptr<Operation> operation);
  void addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished);
  // Adds every operation of a sequence (of shared pointers to operations or subclasses), in order.
  template <class Sequence>
  void addOperations(const Sequence& operations) {
    for (const auto& operation : operations) addOperation(std::shared_ptr<Operation>(operation));
  }
  void addOperation(std::function<void()> block);
  // Cancels every operation the queue holds now.
  void cancelAllOperations();
  // Blocks until the queue holds no operation, including operations added meanwhile by
  // running operations.
  void waitUntilAllOperationsAreFinished();
  // Same, answering false when the timeout passed first.
  bool waitUntilAllOperationsAreFinished(double timeoutSeconds);

  int maxConcurrentOperationCount() const;
  void setMaxConcurrentOperationCount(int count);
  QualityOfService qualityOfService() const;
  void setQualityOfService(QualityOfService qos);
  bool isSuspended() const;
  void setSuspended(bool suspended);
  std::string name() const;
  std::size_t operationCount() const;
  // The operations the queue holds now (queued, waiting for dependencies or running).
  std::vector<std::shared_ptr<Operation>> operations() const;
  // The dispatch queue that runs the operations; by default the global queue of the
  // queue's quality of service. A serial queue here runs one operation at a time.
  std::shared_ptr<DispatchQueue> underlyingQueue() const;
  void setUnderlyingQueue(std::shared_ptr<DispatchQueue> queue);

 private:
  struct State;
  std::shared_ptr<State> _state;
  friend class Operation;
};

}  // namespace vantelkit
