#include "vantelkit/foundation/Operation.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "vantelkit/foundation/Logging.h"

namespace vantelkit {

namespace {

enum class Phase { pending, executing, finished };

// Releasing the last reference to an operation releases its dependencies, which may release
// theirs: a long chain would recurse once per link. The references are parked here instead
// and released one after the other by the outermost destructor on the thread.
struct ReleaseTrampoline {
  std::vector<std::shared_ptr<Operation>> parked;
  bool draining = false;
};
thread_local ReleaseTrampoline releaseTrampoline;

}  // namespace

struct OperationQueue::State : std::enable_shared_from_this<OperationQueue::State> {
  mutable std::mutex mutex;
  std::condition_variable idle;  // notified whenever `held` shrinks
  std::string name;              // fixed at construction
  // Guarded by mutex:
  int maxConcurrent = kDefaultMaxConcurrentOperationCount;
  QualityOfService qos = QualityOfService::standard;
  bool suspended = false;
  std::shared_ptr<DispatchQueue> underlying;
  struct Entry {
    std::shared_ptr<Operation> operation;
    bool dispatched = false;  // submitted to the dispatch queue, counted in `running`
  };
  std::unordered_map<const Operation*, Entry> held;
  std::deque<std::shared_ptr<Operation>> ready;  // ready to start, in order
  int running = 0;

  // Operations taken from `ready` to be submitted once the lock is released.
  struct Batch {
    std::shared_ptr<Operation> first;
    std::vector<std::shared_ptr<Operation>> more;
    std::shared_ptr<DispatchQueue> target;
    QualityOfService qos = QualityOfService::standard;
  };

  // Called when operation's last dependency has finished (or it was ready when added).
  void operationBecameReady(std::shared_ptr<Operation> operation);
  // Called last in an operation's markFinished().
  void operationDidFinish(const Operation* operation);
  // Takes the ready operations that the limit lets start now; call with mutex held.
  Batch takeStartable();
  // Submits a batch; call without the mutex.
  void submit(Batch batch);
  void submitOne(std::shared_ptr<Operation> operation, const std::shared_ptr<DispatchQueue>& target, QualityOfService qos);
};

struct Operation::State {
  mutable std::mutex mutex;
  std::condition_variable settledCondition;
  std::atomic<bool> cancelled{false};
  std::atomic<Phase> phase{Phase::pending};  // written under mutex
  // Guarded by mutex:
  bool settled = false;  // finished, and every finish notification has been delivered
  std::vector<std::shared_ptr<Operation>> dependencies;
  std::size_t unfinishedDependencies = 0;
  std::vector<std::weak_ptr<Operation>> dependents;
  std::shared_ptr<OperationQueue::State> queue;  // the queue holding the operation, until it finishes
  bool waitingInQueue = false;                   // held by `queue` but not yet ready
  QualityOfService qos = QualityOfService::unspecified;
  std::string name;
  std::function<void()> completionBlock;
  std::vector<std::function<void()>> finishHandlers;
};

Operation::Operation() : _state(std::make_shared<State>()) {}

Operation::~Operation() {
  auto& trampoline = releaseTrampoline;
  for (auto& dependency : _state->dependencies) trampoline.parked.push_back(std::move(dependency));
  _state->dependencies.clear();
  if (trampoline.draining) return;
  trampoline.draining = true;
  while (!trampoline.parked.empty()) {
    auto last = std::move(trampoline.parked.back());
    trampoline.parked.pop_back();
    last.reset();
  }
  trampoline.draining = false;
}

void Operation::start() {
  if (!markExecuting()) return;
  if (!isCancelled()) main();
  markFinished();
}

void Operation::cancel() { _state->cancelled.store(true); }

bool Operation::isCancelled() const { return _state->cancelled.load(); }
bool Operation::isExecuting() const { return _state->phase.load() == Phase::executing; }
bool Operation::isFinished() const { return _state->phase.load() == Phase::finished; }

bool Operation::isReady() const {
  std::lock_guard lock(_state->mutex);
  return _state->unfinishedDependencies == 0;
}

bool Operation::markExecuting() {
  std::lock_guard lock(_state->mutex);
  if (_state->phase.load() != Phase::pending) return false;
  _state->phase.store(Phase::executing);
  return true;
}

void Operation::addDependency(const std::shared_ptr<Operation>& dependency) {
  if (!dependency || dependency.get() == this) return;
  std::scoped_lock lock(_state->mutex, dependency->_state->mutex);
  if (_state->phase.load() != Phase::pending) return;
  if (std::find(_state->dependencies.begin(), _state->dependencies.end(), dependency) !=
      _state->dependencies.end()) {
    return;
  }
  _state->dependencies.push_back(dependency);
  if (dependency->_state->phase.load() != Phase::finished) {
    dependency->_state->dependents.push_back(weak_from_this());
    ++_state->unfinishedDependencies;
  }
}

void Operation::addDependencies(const std::vector<std::shared_ptr<Operation>>& dependencies) {
  for (const auto& dependency : dependencies) addDependency(dependency);
}

void Operation::removeDependency(const std::shared_ptr<Operation>& dependency) {
  if (!dependency || dependency.get() == this) return;
  std::shared_ptr<OperationQueue::State> readyIn;
  {
    std::scoped_lock lock(_state->mutex, dependency->_state->mutex);
    auto found = std::find(_state->dependencies.begin(), _state->dependencies.end(), dependency);
    if (found == _state->dependencies.end()) return;
    _state->dependencies.erase(found);
    if (dependency->_state->phase.load() == Phase::finished) return;
    auto& dependents = dependency->_state->dependents;
    auto self = weak_from_this();
    auto mine = std::find_if(dependents.begin(), dependents.end(), [&](const std::weak_ptr<Operation>& dependent) {
      return !dependent.owner_before(self) && !self.owner_before(dependent);
    });
    if (mine == dependents.end()) return;
    dependents.erase(mine);
    if (--_state->unfinishedDependencies == 0 && _state->waitingInQueue) {
      _state->waitingInQueue = false;
      readyIn = _state->queue;
    }
  }
  if (readyIn) readyIn->operationBecameReady(shared_from_this());
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
  std::lock_guard lock(_state->mutex);
  return _state->dependencies;
}

QualityOfService Operation::qualityOfService() const {
  std::lock_guard lock(_state->mutex);
  return _state->qos;
}

void Operation::setQualityOfService(QualityOfService qos) {
  std::lock_guard lock(_state->mutex);
  _state->qos = qos;
}

std::string Operation::name() const {
  std::lock_guard lock(_state->mutex);
  return _state->name;
}

void Operation::setName(std::string name) {
  std::lock_guard lock(_state->mutex);
  _state->name = std::move(name);
}

void Operation::setCompletionBlock(std::function<void()> block) {
  std::lock_guard lock(_state->mutex);
  _state->completionBlock = std::move(block);
}

void Operation::addFinishHandler(std::function<void()> handler) {
  if (!handler) return;
  {
    std::lock_guard lock(_state->mutex);
    if (!_state->settled && _state->phase.load() != Phase::finished) {
      _state->finishHandlers.push_back(std::move(handler));
      return;
    }
  }
  handler();
}

void Operation::waitUntilFinished() {
  std::unique_lock lock(_state->mutex);
  _state->settledCondition.wait(lock, [&] { return _state->settled; });
}

bool Operation::waitUntilFinished(double timeoutSeconds) {
  std::unique_lock lock(_state->mutex);
  return _state->settledCondition.wait_until(lock, dispatchTimeAfter(timeoutSeconds),
                                             [&] { return _state->settled; });
}

void Operation::markFinished() {
  // Whoever finishes an operation may hold the last reference to it through the queue.
  auto self = weak_from_this().lock();
  auto state = _state;
  std::function<void()> completion;
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard lock(state->mutex);
    if (state->phase.load() == Phase::finished) return;
    state->phase.store(Phase::finished);
    completion = std::move(state->completionBlock);
    state->completionBlock = nullptr;
    // Handlers added from now on run at once in addFinishHandler.
    handlers = std::move(state->finishHandlers);
    state->finishHandlers.clear();
  }
  operationDidFinish();
  if (completion) completion();
  for (auto& handler : handlers) handler();
  std::vector<std::weak_ptr<Operation>> dependents;
  std::shared_ptr<OperationQueue::State> queue;
  {
    std::lock_guard lock(state->mutex);
    state->settled = true;
    dependents = std::move(state->dependents);
    state->dependents.clear();
    queue = std::move(state->queue);
    state->queue = nullptr;
  }
  for (auto& weakDependent : dependents) {
    auto dependent = weakDependent.lock();
    if (!dependent) continue;
    std::shared_ptr<OperationQueue::State> readyIn;
    {
      std::lock_guard lock(dependent->_state->mutex);
      if (dependent->_state->unfinishedDependencies > 0 && --dependent->_state->unfinishedDependencies == 0 &&
          dependent->_state->waitingInQueue) {
        dependent->_state->waitingInQueue = false;
        readyIn = dependent->_state->queue;
      }
    }
    if (readyIn) readyIn->operationBecameReady(std::move(dependent));
  }
  state->settledCondition.notify_all();
  if (queue) queue->operationDidFinish(this);
}

// MARK: - OperationQueue

void OperationQueue::State::operationBecameReady(std::shared_ptr<Operation> operation) {
  Batch batch;
  {
    std::lock_guard lock(mutex);
    ready.push_back(std::move(operation));
    batch = takeStartable();
  }
  submit(std::move(batch));
}

void OperationQueue::State::operationDidFinish(const Operation* operation) {
  std::shared_ptr<Operation> released;  // may be the last reference: let go after the lock
  Batch batch;
  {
    std::lock_guard lock(mutex);
    auto found = held.find(operation);
    if (found == held.end()) return;
    released = std::move(found->second.operation);
    if (found->second.dispatched) {
      --running;
    } else {
      // Finished without the queue starting it (started or finished by someone else).
      auto waiting = std::find(ready.begin(), ready.end(), released);
      if (waiting != ready.end()) ready.erase(waiting);
    }
    held.erase(found);
    batch = takeStartable();
    if (held.empty()) idle.notify_all();
  }
  submit(std::move(batch));
}

OperationQueue::State::Batch OperationQueue::State::takeStartable() {
  Batch batch;
  while (!suspended && !ready.empty() && (maxConcurrent < 0 || running < maxConcurrent)) {
    auto operation = std::move(ready.front());
    ready.pop_front();
    auto entry = held.find(operation.get());
    if (entry == held.end() || entry->second.dispatched) continue;
    entry->second.dispatched = true;
    ++running;
    if (!batch.first) {
      batch.first = std::move(operation);
    } else {
      batch.more.push_back(std::move(operation));
    }
  }
  if (batch.first) {
    batch.target = underlying;
    batch.qos = qos;
  }
  return batch;
}

void OperationQueue::State::submit(Batch batch) {
  if (!batch.first) return;
  submitOne(std::move(batch.first), batch.target, batch.qos);
  for (auto& operation : batch.more) submitOne(std::move(operation), batch.target, batch.qos);
}

void OperationQueue::State::submitOne(std::shared_ptr<Operation> operation, const std::shared_ptr<DispatchQueue>& target,
                                      QualityOfService queueQos) {
  std::shared_ptr<DispatchQueue> queue = target;
  if (!queue) {
    auto operationQos = operation->qualityOfService();
    queue = DispatchQueue::global(operationQos == QualityOfService::unspecified ? queueQos : operationQos);
  }
  // The operation holds the queue's state until it finishes, so capturing it alone suffices.
  queue->async([operation = std::move(operation)] { operation->start(); });
}

OperationQueue::OperationQueue(std::string name) : _state(std::make_shared<State>()) {
  _state->name = std::move(name);
}

OperationQueue::~OperationQueue() = default;

void OperationQueue::addOperation(std::shared_ptr<Operation> operation) {
  if (!operation) return;
  State::Batch batch;
  {
    std::lock_guard lock(operation->_state->mutex);
    if (operation->_state->queue || operation->_state->phase.load() != Phase::pending) {
      LogWarning("An operation was added to a queue twice, or after it had started; ignored");
      return;
    }
    operation->_state->queue = _state;
    bool isReady = operation->_state->unfinishedDependencies == 0;
    operation->_state->waitingInQueue = !isReady;
    // The queue holds the operation before it can become ready, so a dependency that
    // finishes now finds it held.
    std::lock_guard queueLock(_state->mutex);
    _state->held.emplace(operation.get(), State::Entry{operation, false});
    if (isReady) {
      _state->ready.push_back(std::move(operation));
      batch = _state->takeStartable();
    }
  }
  _state->submit(std::move(batch));
}

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished) {
  for (const auto& operation : operations) addOperation(operation);
  if (!waitUntilFinished) return;
  for (const auto& operation : operations) {
    if (operation) operation->waitUntilFinished();
  }
}

namespace {
class BlockOperation final : public Operation {
 public:
  explicit BlockOperation(std::function<void()> block) : _block(std::move(block)) {}
  void main() override {
    if (_block) _block();
    _block = nullptr;
  }

 private:
  std::function<void()> _block;
};
}  // namespace

void OperationQueue::addOperation(std::function<void()> block) {
  addOperation(std::make_shared<BlockOperation>(std::move(block)));
}

void OperationQueue::cancelAllOperations() {
  std::vector<std::shared_ptr<Operation>> operations = this->operations();
  for (const auto& operation : operations) operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  std::unique_lock lock(_state->mutex);
  _state->idle.wait(lock, [&] { return _state->held.empty(); });
}

bool OperationQueue::waitUntilAllOperationsAreFinished(double timeoutSeconds) {
  std::unique_lock lock(_state->mutex);
  return _state->idle.wait_until(lock, dispatchTimeAfter(timeoutSeconds), [&] { return _state->held.empty(); });
}

int OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard lock(_state->mutex);
  return _state->maxConcurrent;
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
  State::Batch batch;
  {
    std::lock_guard lock(_state->mutex);
    _state->maxConcurrent = count;
    batch = _state->takeStartable();
  }
  _state->submit(std::move(batch));
}

QualityOfService OperationQueue::qualityOfService() const {
  std::lock_guard lock(_state->mutex);
  return _state->qos;
}

void OperationQueue::setQualityOfService(QualityOfService qos) {
  std::lock_guard lock(_state->mutex);
  _state->qos = qos;
}

bool OperationQueue::isSuspended() const {
  std::lock_guard lock(_state->mutex);
  return _state->suspended;
}

void OperationQueue::setSuspended(bool suspended) {
  State::Batch batch;
  {
    std::lock_guard lock(_state->mutex);
    _state->suspended = suspended;
    batch = _state->takeStartable();
  }
  _state->submit(std::move(batch));
}

std::string OperationQueue::name() const { return _state->name; }

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(_state->mutex);
  return _state->held.size();
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
  std::lock_guard lock(_state->mutex);
  std::vector<std::shared_ptr<Operation>> result;
  result.reserve(_state->held.size());
  for (const auto& entry : _state->held) result.push_back(entry.second.operation);
  return result;
}

std::shared_ptr<DispatchQueue> OperationQueue::underlyingQueue() const {
  std::lock_guard lock(_state->mutex);
  return _state->underlying;
}

void OperationQueue::setUnderlyingQueue(std::shared_ptr<DispatchQueue> queue) {
  std::lock_guard lock(_state->mutex);
  _state->underlying = std::move(queue);
}

}  // namespace vantelkit
