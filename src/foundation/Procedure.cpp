#include "vantelkit/foundation/Procedure.h"

#include <exception>
#include <utility>
#include <fmt/format.h>

#include "vantelkit/foundation/GeneralError.h"

namespace vantelkit {

// MARK: - ProcedureLog

std::string ProcedureLog::prefixed(std::string_view message) const {
  std::string name = _owner.name();
  if (name.empty()) return std::string(message);
  return fmt::format("{}: {}", name, message);
}

void ProcedureLog::debug(std::string_view message, const char* filePath, const char* function, int line) const {
  if (isEnabled()) LogDebug(prefixed(message), std::nullopt, LogLocation(filePath, function, line));
}

void ProcedureLog::info(std::string_view message, const char* filePath, const char* function, int line) const {
  if (isEnabled()) LogInfo(prefixed(message), std::nullopt, LogLocation(filePath, function, line));
}

void ProcedureLog::warning(std::string_view message, const char* filePath, const char* function, int line) const {
  if (isEnabled()) LogWarning(prefixed(message), std::nullopt, LogLocation(filePath, function, line));
}

void ProcedureLog::error(const ErrorPtr& error, const char* filePath, const char* function, int line) const {
  if (isEnabled() && error) LogError(error, std::nullopt, LogLocation(filePath, function, line));
}

// MARK: - Conditions

ErrorPtr NoFailedDependenciesCondition::evaluate(Procedure& procedure) {
  bool anyCancelled = false;
  for (const auto& dependency : procedure.dependencies()) {
    const auto* dependencyProcedure = dynamic_cast<const Procedure*>(dependency.get());
    if (dependencyProcedure && dependencyProcedure->error()) {
      return makeError<ProcedureKitError>(ProcedureKitError::dependenciesFailed());
    }
    if (dependency->isCancelled()) anyCancelled = true;
  }
  if (anyCancelled && !_ignoreCancellations) {
    return makeError<ProcedureKitError>(ProcedureKitError::dependenciesCancelled());
  }
  return nullptr;
}

// MARK: - Procedure

Procedure::Procedure() = default;
Procedure::~Procedure() = default;

std::vector<std::shared_ptr<ProcedureObserver>> Procedure::observers() const {
  std::lock_guard lock(_mutex);
  return _observers;
}

template <class Event>
void Procedure::notify(const Event& event) {
  notify(observers(), event);
}

template <class Event>
void Procedure::notify(const std::vector<std::shared_ptr<ProcedureObserver>>& observers, const Event& event) {
  if (observers.empty()) return;
  std::shared_ptr<Procedure> self;
  for (const auto& observer : observers) {
    auto queue = observer->eventQueue();
    if (queue && !self) self = std::static_pointer_cast<Procedure>(weak_from_this().lock());
    if (queue && self) {
      queue->async([observer, self, event] { event(*observer, *self); });
    } else {
      event(*observer, *this);
    }
  }
}

std::shared_ptr<Procedure::SelfCell> Procedure::selfCell() {
  std::lock_guard lock(_mutex);
  if (!_selfCell) _selfCell = std::make_shared<SelfCell>();
  if (auto self = weak_from_this(); !self.expired()) {
    std::lock_guard cellLock(_selfCell->mutex);
    _selfCell->procedure = self;
  }
  return _selfCell;
}

void Procedure::start() {
  if (!markExecuting()) return;
  std::shared_ptr<SelfCell> cell;
  std::vector<std::shared_ptr<ProcedureCondition>> conditions;
  {
    std::lock_guard lock(_mutex);
    cell = _selfCell;
    conditions = _conditions;
  }
  if (cell) {
    std::lock_guard cellLock(cell->mutex);
    cell->procedure = weak_from_this();
  }
  if (!isCancelled()) {
    for (const auto& condition : conditions) {
      if (ErrorPtr refusal = condition->evaluate(*this)) {
        cancel(std::move(refusal));
        break;
      }
    }
  }
  if (isCancelled()) {
    startCancelled();
    return;
  }
  // The observers are released at the finish, which may come before execute() returns.
  auto observersAtStart = observers();
  notify(observersAtStart, [](ProcedureObserver& observer, Procedure& procedure) { observer.willExecute(procedure); });
  try {
    execute();
  } catch (const std::exception& exception) {
    finish(makeError<ExceptionError>(exception.what()));
  } catch (...) {
    finish(makeError<ExceptionError>("unknown exception"));
  }
  notify(observersAtStart, [](ProcedureObserver& observer, Procedure& procedure) { observer.didExecute(procedure); });
}

void Procedure::execute() { finish(); }

void Procedure::startCancelled() { finish(); }

bool Procedure::deferFinish(const ErrorPtr&) { return false; }

void Procedure::finish(ErrorPtr error) { finishRequest(std::move(error), false); }

void Procedure::finishRequest(ErrorPtr error, bool quietWhenNotExecuting) {
  if (deferFinish(error)) return;
  finishNow(std::move(error), quietWhenNotExecuting);
}

void Procedure::finishNow(ErrorPtr error, bool quietWhenNotExecuting) {
  ErrorPtr finalError;
  const char* misuse = nullptr;
  {
    std::lock_guard lock(_mutex);
    if (_finishing || !isExecuting()) {
      if (quietWhenNotExecuting) return;
      misuse = _finishing || isFinished() ? "finish() called on a procedure that has already finished; ignored"
                                          : "finish() called on a procedure that has not started; ignored";
    } else {
      _finishing = true;
      finalError = error ? std::move(error) : (isCancelled() ? _cancelError : nullptr);
      _error = finalError;
      // A cancellation still telling its observers finishes the procedure when it is done,
      // so that every did-cancel comes before the finish events.
      if (_cancelling) {
        _finishDeferred = true;
        return;
      }
    }
  }
  if (misuse) {
    _log.warning(misuse);
    return;
  }
  completeFinish(std::move(finalError));
}

void Procedure::completeFinish(ErrorPtr finalError) {
  procedureWillFinish(finalError);
  notify([finalError](ProcedureObserver& observer, Procedure& procedure) { observer.willFinish(procedure, finalError); });
  markFinished();
}

void Procedure::operationDidFinish() {
  // Observers and conditions that refer back to the procedure must not keep it alive: they
  // are taken out now and released after this last event.
  ErrorPtr finalError;
  std::vector<std::shared_ptr<ProcedureObserver>> observers;
  std::vector<std::shared_ptr<ProcedureCondition>> conditions;
  {
    std::lock_guard lock(_mutex);
    finalError = _error;
    observers.swap(_observers);
    conditions.swap(_conditions);
  }
  procedureDidFinish(finalError);
  notify(observers, [finalError](ProcedureObserver& observer, Procedure& procedure) { observer.didFinish(procedure, finalError); });
  releaseAfterFinish();
}

void Procedure::cancel() { cancel(nullptr); }

void Procedure::cancel(ErrorPtr error) {
  // The observers attached before the cancellation are the ones told, even when the
  // procedure sees the flag and finishes (releasing its observers) while this runs.
  std::vector<std::shared_ptr<ProcedureObserver>> observersAtCancel;
  {
    std::lock_guard lock(_mutex);
    if (_finishing || isFinished() || isCancelled()) return;
    _cancelError = error;
    _cancelling = true;
    observersAtCancel = _observers;
    Operation::cancel();
  }
  cancelChildren();
  procedureDidCancel(error);
  notify(observersAtCancel, [error](ProcedureObserver& observer, Procedure& procedure) { observer.didCancel(procedure, error); });
  ErrorPtr finalError;
  bool finishNowDue = false;
  {
    std::lock_guard lock(_mutex);
    _cancelling = false;
    finishNowDue = std::exchange(_finishDeferred, false);
    finalError = _error;
  }
  if (finishNowDue) completeFinish(std::move(finalError));
}

ErrorPtr Procedure::error() const {
  std::lock_guard lock(_mutex);
  return _error;
}

void Procedure::addCondition(std::shared_ptr<ProcedureCondition> condition) {
  if (!condition) return;
  std::lock_guard lock(_mutex);
  if (isExecuting() || isFinished()) {
    return;  // conditions are evaluated once, at the start
  }
  _conditions.push_back(std::move(condition));
}

void Procedure::addObserver(std::shared_ptr<ProcedureObserver> observer) {
  if (!observer) return;
  {
    std::lock_guard lock(_mutex);
    if (!isFinished()) _observers.push_back(observer);
  }
  observer->didAttach(*this);
}

void Procedure::addWillExecuteBlockObserver(BlockObserver::ProcedureBlock block) {
  auto observer = std::make_shared<BlockObserver>();
  observer->onWillExecute(std::move(block));
  addObserver(std::move(observer));
}

void Procedure::addDidExecuteBlockObserver(BlockObserver::ProcedureBlock block) {
  auto observer = std::make_shared<BlockObserver>();
  observer->onDidExecute(std::move(block));
  addObserver(std::move(observer));
}

void Procedure::addWillFinishBlockObserver(BlockObserver::ErrorBlock block) {
  auto observer = std::make_shared<BlockObserver>();
  observer->onWillFinish(std::move(block));
  addObserver(std::move(observer));
}

void Procedure::addDidFinishBlockObserver(BlockObserver::ErrorBlock block) {
  auto observer = std::make_shared<BlockObserver>();
  observer->onDidFinish(std::move(block));
  addObserver(std::move(observer));
}

void Procedure::addDidCancelBlockObserver(BlockObserver::ErrorBlock block) {
  auto observer = std::make_shared<BlockObserver>();
  observer->onDidCancel(std::move(block));
  addObserver(std::move(observer));
}

void Procedure::notifyInputReady() {
  notify([](ProcedureObserver& observer, Procedure& procedure) { observer.didSetInputReady(procedure); });
}

void Procedure::notifyWillAddChild(Operation& child) {
  auto strongChild = child.weak_from_this().lock();
  notify([&child, strongChild](ProcedureObserver& observer, Procedure& procedure) {
    observer.willAddChild(procedure, strongChild ? *strongChild : child);
  });
}

void Procedure::notifyDidAddChild(Operation& child) {
  auto strongChild = child.weak_from_this().lock();
  notify([&child, strongChild](ProcedureObserver& observer, Procedure& procedure) {
    observer.didAddChild(procedure, strongChild ? *strongChild : child);
  });
}

}  // namespace vantelkit
