#include "vantelkit/foundation/GroupProcedure.h"

namespace vantelkit {

GroupProcedure::GroupProcedure(std::shared_ptr<DispatchQueue> dispatchQueue, std::vector<std::shared_ptr<Operation>> operations)
    : _queue("GroupProcedure") {
  _queue.setUnderlyingQueue(std::move(dispatchQueue));
  // Before the start, children are only recorded: nothing refers back to the group yet.
  for (auto& operation : operations) {
    if (!operation) continue;
    _children.push_back(std::move(operation));
    ++_unfinishedChildren;
  }
}

GroupProcedure::GroupProcedure(std::vector<std::shared_ptr<Operation>> operations)
    : GroupProcedure(nullptr, std::move(operations)) {}

GroupProcedure::~GroupProcedure() = default;

void GroupProcedure::addChild(std::shared_ptr<Operation> child) {
  if (!child) return;
  constexpr std::string_view kRefusal = "addChild() called on a group that has finished; ignored";
  bool done = false;
  {
    std::lock_guard lock(_groupMutex);
    done = _done;
  }
  if (done) {
    log().warning(kRefusal);
    return;
  }
  notifyWillAddChild(*child);
  bool started = false;
  {
    std::lock_guard lock(_groupMutex);
    if (_done) {
      child = nullptr;
    } else {
      _children.push_back(child);
      ++_unfinishedChildren;
      started = _childrenStarted;
    }
  }
  if (!child) {
    log().warning(kRefusal);
    return;
  }
  // A group cancelled meanwhile either listed this child when it cancelled, or is seen here.
  if (isCancelled()) child->cancel();
  if (started) queueChild(child);
  notifyDidAddChild(*child);
}

void GroupProcedure::queueChild(const std::shared_ptr<Operation>& child) {
  std::weak_ptr<Operation> weakGroup = weak_from_this();
  Operation* raw = child.get();
  child->addFinishHandler([weakGroup, raw] {
    if (auto group = weakGroup.lock()) static_cast<GroupProcedure&>(*group).childDidFinish(*raw);
  });
  _queue.addOperation(child);
}

void GroupProcedure::addChildren(const std::vector<std::shared_ptr<Operation>>& children) {
  for (const auto& child : children) addChild(child);
}

std::vector<std::shared_ptr<Operation>> GroupProcedure::children() const {
  std::lock_guard lock(_groupMutex);
  return _children;
}

int GroupProcedure::maxConcurrentOperationCount() const { return _queue.maxConcurrentOperationCount(); }

void GroupProcedure::setMaxConcurrentOperationCount(int count) { _queue.setMaxConcurrentOperationCount(count); }

void GroupProcedure::execute() { startChildren(); }

void GroupProcedure::startCancelled() { startChildren(); }

void GroupProcedure::startChildren() {
  std::vector<std::shared_ptr<Operation>> children;
  {
    std::lock_guard lock(_groupMutex);
    if (_childrenStarted) return;
    _childrenStarted = true;
    children = _children;
  }
  if (isCancelled()) {
    for (const auto& child : children) child->cancel();
  }
  // Children without a class of their own run at the group's.
  if (auto qos = qualityOfService(); qos != QualityOfService::unspecified) _queue.setQualityOfService(qos);
  for (const auto& child : children) queueChild(child);
  finishIfDone();
}

void GroupProcedure::childDidFinish(Operation& child) {
  auto* procedure = dynamic_cast<Procedure*>(&child);
  ErrorPtr childError = procedure ? procedure->error() : nullptr;
  {
    std::lock_guard lock(_groupMutex);
    if (childError && !_childError) _childError = childError;
    if (_unfinishedChildren > 0) --_unfinishedChildren;
  }
  finishIfDone();
}

bool GroupProcedure::deferFinish(const ErrorPtr& error) {
  {
    std::lock_guard lock(_groupMutex);
    if (_done || !isExecuting()) return false;  // Procedure reports the misuse
    if (!_finishRequested) {
      _finishRequested = true;
      _requestedError = error;
    }
  }
  finishIfDone();
  return true;
}

void GroupProcedure::finishIfDone() {
  ErrorPtr error;
  {
    std::lock_guard lock(_groupMutex);
    if (_done || !_childrenStarted || _unfinishedChildren > 0) return;
    _done = true;
    error = _finishRequested && _requestedError ? _requestedError : _childError;
  }
  finishNow(std::move(error));
}

void GroupProcedure::releaseAfterFinish() {
  std::vector<std::shared_ptr<Operation>> released;
  std::lock_guard lock(_groupMutex);
  released.swap(_children);
}

void GroupProcedure::cancelChildren() {
  for (const auto& child : children()) child->cancel();
}

std::shared_ptr<GroupProcedure> GroupProcedure::serial(const std::vector<std::shared_ptr<Procedure>>& procedures) {
  auto group = std::make_shared<GroupProcedure>();
  std::weak_ptr<GroupProcedure> weakGroup = group;
  for (const auto& procedure : procedures) {
    if (!procedure) continue;
    procedure->addDidCancelBlockObserver([weakGroup](Procedure&, const ErrorPtr& error) {
      if (auto strong = weakGroup.lock()) strong->cancel(error);
    });
    procedure->addWillFinishBlockObserver([weakGroup](Procedure&, const ErrorPtr& error) {
      if (!error) return;
      if (auto strong = weakGroup.lock()) strong->cancel(error);
    });
  }
  group->setMaxConcurrentOperationCount(1);
  group->addChildren(procedures);
  return group;
}

}  // namespace vantelkit
