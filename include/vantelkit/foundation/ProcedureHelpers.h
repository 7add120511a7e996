// Helpers for writing procedures tersely: a block procedure that runs its closure on the
// main queue, observers that deliver a procedure's finish on the main queue or log its error,
// a three-way result read from a finished output procedure, result observers and
// result-processing procedures, and a main-queue delay.
// Thread safety: every function is safe to call from any thread. The main-queue helpers
// always submit asynchronously to the main queue, never run their closure inline, and hold
// the procedures they observe weakly where noted.
#pragma once

#include <concepts>
#include <functional>
#include <memory>
#include <type_traits>
#include <variant>

#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/GeneralError.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/foundation/Procedure.h"
#include "vantelkit/platform/DispatchQueue.h"

namespace vantelkit {

// A block procedure that, when run, submits block to the main queue and finishes (without
// error) after the main queue has run it.
class MainQueueBlockProcedure : public BlockProcedure {
 public:
  explicit MainQueueBlockProcedure(std::function<void()> block);
};

// Submits finishHandler(procedure, error) to the main queue when the procedure has
// finished. Only the did-finish callback does anything; no event queue of its own. The
// submitted task holds the procedure until it has run. P is the observed procedure type.
template <class P = Procedure>
class MainQueueFinishObserver : public ProcedureObserver {
 public:
  using Handler = std::function<void(const std::shared_ptr<P>& procedure, const ErrorPtr& error)>;

  explicit MainQueueFinishObserver(Handler handler) : finishHandler(std::move(handler)) {}

  void didFinish(Procedure& procedure, const ErrorPtr& error) override {
    auto typed = procedure.sharedAs<P>();
    if (!typed || !finishHandler) return;
    DispatchQueue::main()->async([handler = finishHandler, typed, error] { handler(typed, error); });
  }

  const Handler finishHandler;
};

// What ErrorPrinterObserver does on the main queue: LogError(error), nothing for null.
void printProcedureError(const ErrorPtr& error);

template <class P = Procedure>
class ErrorPrinterObserver : public MainQueueFinishObserver<P> {
 public:
  ErrorPrinterObserver()
      : MainQueueFinishObserver<P>([](const std::shared_ptr<P>&, const ErrorPtr& error) {
          printProcedureError(error);
        }) {}
};

// What a finished output procedure produced: succeeded with a value, failed with an error,
// or cancelled.
template <class T>
class ProcedureResultWrapper {
 public:
  struct Succeeded {
    T value;
  };
  struct Failed {
    ErrorPtr error;
  };
  struct Cancelled {};

  static ProcedureResultWrapper succeeded(T value) { return ProcedureResultWrapper(Succeeded{std::move(value)}); }
  static ProcedureResultWrapper failed(ErrorPtr error) { return ProcedureResultWrapper(Failed{std::move(error)}); }
  static ProcedureResultWrapper cancelled() { return ProcedureResultWrapper(Cancelled{}); }

  // Read from procedure (a Procedure and an OutputProcedure<T>): cancelled when it was
  // cancelled; failed with its error when it has one; succeeded with the output's success
  // value; otherwise failed with GeneralError::featureNotAvalable and no URL.
  template <class P>
    requires std::derived_from<P, Procedure> && std::derived_from<P, OutputProcedure<T>>
  explicit ProcedureResultWrapper(const P& procedure) : _storage(read(procedure)) {}

  bool didSucceed() const { return _storage.index() == 0; }
  bool didFail() const { return _storage.index() == 1; }
  bool wasCancelled() const { return _storage.index() == 2; }
  const T* value() const {
    const Succeeded* succeeded = std::get_if<0>(&_storage);
    return succeeded ? &succeeded->value : nullptr;
  }
  ErrorPtr error() const {
    const Failed* failed = std::get_if<1>(&_storage);
    return failed ? failed->error : nullptr;
  }

  // Calls the closure matching the case, with its payload, when that closure is given.
  void handle(const std::function<void(const ErrorPtr&)>& failed, const std::function<void()>& cancelled,
              const std::function<void(const T&)>& succeeded) const {
    if (const Succeeded* success = std::get_if<0>(&_storage)) {
      if (succeeded) succeeded(success->value);
    } else if (const Failed* failure = std::get_if<1>(&_storage)) {
      if (failed) failed(failure->error);
    } else if (cancelled) {
      cancelled();
    }
  }

 private:
  using Storage = std::variant<Succeeded, Failed, Cancelled>;
  explicit ProcedureResultWrapper(Storage storage) : _storage(std::move(storage)) {}

  template <class P>
  static Storage read(const P& procedure) {
    if (procedure.isCancelled()) return Cancelled{};
    if (ErrorPtr error = procedure.error()) return Failed{std::move(error)};
    if (auto value = procedure.OutputProcedure<T>::successValue()) return Succeeded{std::move(*value)};
    return Failed{makeError<GeneralError>(GeneralError::featureNotAvalable())};
  }

  Storage _storage;
};

// Adds a did-finish observer to procedure that holds it weakly and, if it still exists,
// calls resultHandler with its ProcedureResultWrapper: on the main queue (built there) when
// onMainQueue is true, otherwise at once on the finishing thread.
template <class P>
void addResultObserver(const std::shared_ptr<P>& procedure, bool onMainQueue,
                       std::function<void(const ProcedureResultWrapper<typename P::OutputType>&)> resultHandler) {
  using Wrapper = ProcedureResultWrapper<typename P::OutputType>;
  std::weak_ptr<P> weakProcedure = procedure;
  procedure->addDidFinishBlockObserver(
      [weakProcedure, onMainQueue, resultHandler = std::move(resultHandler)](Procedure&, const ErrorPtr&) {
        if (!resultHandler) return;
        if (onMainQueue) {
          DispatchQueue::main()->async([weakProcedure, resultHandler] {
            if (auto strong = weakProcedure.lock()) resultHandler(Wrapper(*strong));
          });
        } else if (auto strong = weakProcedure.lock()) {
          resultHandler(Wrapper(*strong));
        }
      });
}

// A block procedure that depends on source and, when it runs, calls process with the
// source's success value; it finishes with the ErrorPtr process returns (process may also
// return nothing). It holds source weakly. When the source is gone or produced no success
// value, process is not called and the procedure finishes without error. The caller adds
// the returned procedure to a queue (or a group).
template <class P, class Process>
  requires std::invocable<Process&, const typename P::OutputType&>
std::shared_ptr<BlockProcedure> resultProcessingProcedure(const std::shared_ptr<P>& source, Process process) {
  std::weak_ptr<P> weakSource = source;
  auto block = std::make_shared<BlockProcedure>(
      [weakSource, process = std::move(process)](BlockProcedure& procedure) mutable {
        auto strong = weakSource.lock();
        auto value = strong ? strong->OutputProcedure<typename P::OutputType>::successValue() : std::nullopt;
        if (!value) {
          procedure.finish();
          return;
        }
        if constexpr (std::is_void_v<std::invoke_result_t<Process&, const typename P::OutputType&>>) {
          process(*value);
          procedure.finish();
        } else {
          procedure.finish(process(*value));
        }
      });
  block->addDependency(source);
  return block;
}

// Runs closure on the main queue after seconds (cut to whole nanoseconds), always
// asynchronously. A negative or NaN delay counts as 0; an infinite one, or one beyond the
// range of 64-bit nanoseconds, never comes and the closure is released at once.
void delay(double seconds, std::function<void()> closure);

}  // namespace vantelkit
