// Procedures: operations that end when they say so. A subclass overrides execute() and ends
// with finish() exactly once, from any thread; a second finish is a programming error that is
// logged and ignored. Cancelling marks the procedure cancelled and calls the cancel hook and
// observers; an executing procedure still ends itself through finish(), and a queued one
// finishes without executing once its dependencies have finished. Every observer attached
// before a cancellation hears of it exactly once, before the finish events: a finish that
// comes while cancel() is still calling the hook and the did-cancel observers is completed
// by cancel() when they have returned (so a did-cancel observer must not wait for the finish). Conditions are
// evaluated when all dependencies have finished; one that fails cancels the procedure with
// its error, and the procedure finishes without executing.
// Procedures are owned by std::shared_ptr (create them with std::make_shared); a queue keeps
// each one alive until it has finished. Observers are released once the procedure has
// finished, so an observer that refers back to its procedure does not keep it alive.
// Thread safety: every public member is safe to call from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/foundation/Operation.h"
#include "vantelkit/foundation/ProcedureObserver.h"

namespace vantelkit {

class Procedure;

// Decides, before a procedure executes, whether it may run.
class ProcedureCondition {
 public:
  virtual ~ProcedureCondition() = default;
  // Null when the procedure may run; otherwise the error the procedure is cancelled with.
  // Called once, on the thread that starts the procedure, after every dependency finished.
  virtual ErrorPtr evaluate(Procedure& procedure) = 0;
};

// Fails when a dependency finished with an error (ProcedureKitError::dependenciesFailed) or,
// unless cancellations are ignored, when one was cancelled (dependenciesCancelled). A
// dependency cancelled with an error counts as failed either way.
class NoFailedDependenciesCondition final : public ProcedureCondition {
 public:
  explicit NoFailedDependenciesCondition(bool ignoreCancellations = false)
      : _ignoreCancellations(ignoreCancellations) {}
  ErrorPtr evaluate(Procedure& procedure) override;

 private:
  bool _ignoreCancellations;
};

// A procedure's own log channel: lines go through LogDebug .. LogError, prefixed with the
// procedure's name when it has one ("Name: message").
class ProcedureLog {
 public:
  explicit ProcedureLog(const Procedure& owner) : _owner(owner) {}
  ProcedureLog(const ProcedureLog&) = delete;
  ProcedureLog& operator=(const ProcedureLog&) = delete;

  void debug(std::string_view message, const char* filePath = __builtin_FILE(),
             const char* function = __builtin_FUNCTION(), int line = __builtin_LINE()) const;
  void info(std::string_view message, const char* filePath = __builtin_FILE(),
            const char* function = __builtin_FUNCTION(), int line = __builtin_LINE()) const;
  void warning(std::string_view message, const char* filePath = __builtin_FILE(),
               const char* function = __builtin_FUNCTION(), int line = __builtin_LINE()) const;
  void error(const ErrorPtr& error, const char* filePath = __builtin_FILE(),
             const char* function = __builtin_FUNCTION(), int line = __builtin_LINE()) const;
  // A disabled channel writes nothing; channels start enabled.
  bool isEnabled() const { return _enabled.load(); }
  void setEnabled(bool enabled) { _enabled.store(enabled); }

 private:
  std::string prefixed(std::string_view message) const;
  const Procedure& _owner;
  std::atomic<bool> _enabled{true};
};

// A weak reference to a procedure that may be taken inside its constructor, where
// weak_from_this() is still empty: lock() answers the procedure from its start on, for as
// long as it exists, and null before. Closures of children and observers made in a
// constructor capture one of these instead of the procedure itself.
struct ProcedureReferenceCell {
  mutable std::mutex mutex;
  std::weak_ptr<Operation> procedure;  // guarded by mutex
};

template <class T>
class ProcedureReference {
 public:
  ProcedureReference() = default;
  std::shared_ptr<T> lock() const;

 private:
  friend class Procedure;
  explicit ProcedureReference(std::shared_ptr<ProcedureReferenceCell> cell) : _cell(std::move(cell)) {}
  std::shared_ptr<ProcedureReferenceCell> _cell;
};

class Procedure : public Operation {
 public:
  Procedure();
  ~Procedure() override;

  // Ends the procedure with error (null for success). Called exactly once, after execute()
  // has begun; any further call, or one before the procedure started, is logged and ignored.
  // A cancelled procedure that finishes without an error of its own finishes with its
  // cancellation error.
  void finish(ErrorPtr error = nullptr);
  // cancel(with:) without an error.
  void cancel() override;
  // Cancels with error as the reason. Only the first cancellation counts; cancelling a
  // finishing or finished procedure does nothing.
  void cancel(ErrorPtr error);
  // The error the procedure finished with (null while it runs and after a success).
  ErrorPtr error() const;
  // True once the procedure finished with an error.
  bool failed() const { return error() != nullptr; }

  void addCondition(std::shared_ptr<ProcedureCondition> condition);
  void addObserver(std::shared_ptr<ProcedureObserver> observer);
  void addWillExecuteBlockObserver(BlockObserver::ProcedureBlock block);
  void addDidExecuteBlockObserver(BlockObserver::ProcedureBlock block);
  void addWillFinishBlockObserver(BlockObserver::ErrorBlock block);
  void addDidFinishBlockObserver(BlockObserver::ErrorBlock block);
  void addDidCancelBlockObserver(BlockObserver::ErrorBlock block);

  const ProcedureLog& log() const { return _log; }
  ProcedureLog& log() { return _log; }

  // This procedure as a shared pointer to T (null when it is not a T). Not in constructors.
  template <class T>
  std::shared_ptr<T> sharedAs() {
    return std::dynamic_pointer_cast<T>(shared_from_this());
  }

  // See ProcedureReference; T is this procedure's type or a base of it.
  template <class T>
  ProcedureReference<T> weakReference() {
    return ProcedureReference<T>(selfCell());
  }

  void start() override;

 protected:
  // The work. Runs on a queue thread unless the procedure was cancelled first; must lead to
  // finish() on every path (now or later, from any thread). By default finishes at once.
  virtual void execute();
  // Called once, on the cancelling thread, after the procedure became cancelled.
  virtual void procedureDidCancel(const ErrorPtr& error) { (void)error; }
  // Called before the will-finish observers, with the error the procedure finishes with.
  virtual void procedureWillFinish(const ErrorPtr& error) { (void)error; }
  // Called after the procedure became finished, before the did-finish observers.
  virtual void procedureDidFinish(const ErrorPtr& error) { (void)error; }
  // Tells the input-ready observers (for procedures that receive their input late).
  void notifyInputReady();
  // Tells the observers about a child being added (for groups).
  void notifyWillAddChild(Operation& child);
  void notifyDidAddChild(Operation& child);

 private:
  friend class GroupProcedure;
  friend class TimeoutObserver;

  // A cancelled procedure reaching its start: by default it finishes at once.
  virtual void startCancelled();
  // Answers true when a finish request is taken over (a group finishes after its children).
  virtual bool deferFinish(const ErrorPtr& error);
  // Runs before the cancel hook (a group cancels its children).
  virtual void cancelChildren() {}
  // Runs after the did-finish observers, before waiters learn of the finish.
  virtual void releaseAfterFinish() {}
  using SelfCell = ProcedureReferenceCell;
  std::shared_ptr<SelfCell> selfCell();
  void finishRequest(ErrorPtr error, bool quietWhenNotExecuting);
  void finishNow(ErrorPtr error, bool quietWhenNotExecuting = false);
  // The finish events and the end, once the finishing error is settled.
  void completeFinish(ErrorPtr finalError);
  void operationDidFinish() final;
  std::vector<std::shared_ptr<ProcedureObserver>> observers() const;
  template <class Event>
  void notify(const Event& event);
  template <class Event>
  void notify(const std::vector<std::shared_ptr<ProcedureObserver>>& observers, const Event& event);

  mutable std::mutex _mutex;
  // Guarded by _mutex:
  bool _finishing = false;
  bool _cancelling = false;      // cancel() is calling the hook and the did-cancel observers
  bool _finishDeferred = false;  // a finish came meanwhile; cancel() completes it
  ErrorPtr _error;
  ErrorPtr _cancelError;
  std::vector<std::shared_ptr<ProcedureObserver>> _observers;
  std::vector<std::shared_ptr<ProcedureCondition>> _conditions;
  std::shared_ptr<SelfCell> _selfCell;  // made on first use, filled at the start
  ProcedureLog _log{*this};
};

template <class T>
std::shared_ptr<T> ProcedureReference<T>::lock() const {
  if (!_cell) return nullptr;
  std::shared_ptr<Operation> procedure;
  {
    std::lock_guard lock(_cell->mutex);
    procedure = _cell->procedure.lock();
  }
  return std::dynamic_pointer_cast<T>(procedure);
}

}  // namespace vantelkit
