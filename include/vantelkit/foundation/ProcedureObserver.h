// Observers of a procedure's life: attach, will/did execute, did cancel, will/did add a
// child (groups), input ready, will/did finish. Every callback does nothing by default, so an
// observer overrides only what it needs; block observers wrap a single closure.
// Thread safety: callbacks run on the thread that causes the event (any thread), or, when
// eventQueue() answers a queue, are submitted to that queue asynchronously in event order.
#pragma once

#include <functional>
#include <memory>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/platform/DispatchQueue.h"

namespace vantelkit {

class Operation;
class Procedure;

class ProcedureObserver {
 public:
  virtual ~ProcedureObserver() = default;

  // Called by addObserver(), on the calling thread, even when the observer has an event queue.
  virtual void didAttach(Procedure& procedure) { (void)procedure; }
  virtual void willExecute(Procedure& procedure) { (void)procedure; }
  virtual void didExecute(Procedure& procedure) { (void)procedure; }
  virtual void didCancel(Procedure& procedure, const ErrorPtr& error) { (void)procedure, (void)error; }
  virtual void willAddChild(Procedure& group, Operation& child) { (void)group, (void)child; }
  virtual void didAddChild(Procedure& group, Operation& child) { (void)group, (void)child; }
  virtual void didSetInputReady(Procedure& procedure) { (void)procedure; }
  // error is the error the procedure finishes with (null for success).
  virtual void willFinish(Procedure& procedure, const ErrorPtr& error) { (void)procedure, (void)error; }
  virtual void didFinish(Procedure& procedure, const ErrorPtr& error) { (void)procedure, (void)error; }

  // The queue that receives the callbacks, or null for the thread of the event.
  virtual std::shared_ptr<DispatchQueue> eventQueue() const { return nullptr; }
};

// One closure called on one event; the procedure's add*BlockObserver functions make them.
class BlockObserver final : public ProcedureObserver {
 public:
  using ProcedureBlock = std::function<void(Procedure&)>;
  using ErrorBlock = std::function<void(Procedure&, const ErrorPtr&)>;

  BlockObserver() = default;
  BlockObserver& onWillExecute(ProcedureBlock block) { _willExecute = std::move(block); return *this; }
  BlockObserver& onDidExecute(ProcedureBlock block) { _didExecute = std::move(block); return *this; }
  BlockObserver& onDidCancel(ErrorBlock block) { _didCancel = std::move(block); return *this; }
  BlockObserver& onWillFinish(ErrorBlock block) { _willFinish = std::move(block); return *this; }
  BlockObserver& onDidFinish(ErrorBlock block) { _didFinish = std::move(block); return *this; }
  BlockObserver& onQueue(std::shared_ptr<DispatchQueue> queue) { _queue = std::move(queue); return *this; }

  void willExecute(Procedure& procedure) override {
    if (_willExecute) _willExecute(procedure);
  }
  void didExecute(Procedure& procedure) override {
    if (_didExecute) _didExecute(procedure);
  }
  void didCancel(Procedure& procedure, const ErrorPtr& error) override {
    if (_didCancel) _didCancel(procedure, error);
  }
  void willFinish(Procedure& procedure, const ErrorPtr& error) override {
    if (_willFinish) _willFinish(procedure, error);
  }
  void didFinish(Procedure& procedure, const ErrorPtr& error) override {
    if (_didFinish) _didFinish(procedure, error);
  }
  std::shared_ptr<DispatchQueue> eventQueue() const override { return _queue; }

 private:
  ProcedureBlock _willExecute;
  ProcedureBlock _didExecute;
  ErrorBlock _didCancel;
  ErrorBlock _willFinish;
  ErrorBlock _didFinish;
  std::shared_ptr<DispatchQueue> _queue;
};

}  // namespace vantelkit
