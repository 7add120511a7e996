// A procedure that runs child operations on a queue of its own and finishes after the last
// of them. Children are added at construction, before or during execute(), or while the
// group runs; cancelling the group cancels every child, including those added later.
// The group finishes with, in this order of preference: the error given to an explicit
// finish(), the first error a child procedure finished with, the group's cancellation error.
// An explicit finish() while children are unfinished takes effect after the last of them.
// Subclasses that override execute() add their children and then call GroupProcedure::execute(),
// which starts them. The children are released when the group has finished. Children made in
// a subclass's constructor refer back to the group through weakReference<Subclass>().
//
//   class SizeProcedure : public GroupProcedure, public OutputProcedure<std::int64_t> {
//    public:
//     SizeProcedure() {
//       auto scan = std::make_shared<ScanProcedure>(...);
//       auto result = std::make_shared<BlockProcedure>([group = weakReference<SizeProcedure>()] {
//         if (auto strong = group.lock()) strong->setSuccess(...);
//       });
//       result->addDependency(scan);
//       addChildren(std::vector<std::shared_ptr<Operation>>{scan, result});
//     }
//   };
// Thread safety: every public member is safe to call from any thread.
#pragma once

#include <memory>
#include <vector>

#include "vantelkit/foundation/Procedure.h"
#include "vantelkit/foundation/ProcedureQueue.h"

namespace vantelkit {

class GroupProcedure : public Procedure {
 public:
  // Children run on dispatchQueue when one is given (a serial one runs them one at a time),
  // otherwise on the shared pool.
  explicit GroupProcedure(std::shared_ptr<DispatchQueue> dispatchQueue = nullptr,
                          std::vector<std::shared_ptr<Operation>> operations = {});
  explicit GroupProcedure(std::vector<std::shared_ptr<Operation>> operations);
  ~GroupProcedure() override;

  // Adding a child to a finished group is logged and ignored; a child that is already
  // queued elsewhere runs there, and the group still waits for it.
  void addChild(std::shared_ptr<Operation> child);
  void addChildren(const std::vector<std::shared_ptr<Operation>>& children);
  template <class Sequence>
  void addChildren(const Sequence& children) {
    for (const auto& child : children) addChild(std::shared_ptr<Operation>(child));
  }
  // The children added so far (empty once the group has finished).
  std::vector<std::shared_ptr<Operation>> children() const;

  // How many children run at once (default: no limit).
  int maxConcurrentOperationCount() const;
  void setMaxConcurrentOperationCount(int count);

  // A group with no dispatch queue that runs procedures one at a time in list order; the
  // first of them that fails or is cancelled cancels the group (with that error), and so
  // the children not yet run. An empty list finishes at once.
  static std::shared_ptr<GroupProcedure> serial(const std::vector<std::shared_ptr<Procedure>>& procedures);

 protected:
  // Starts the children added so far; the group then finishes after the last child.
  void execute() override;

 private:
  void startCancelled() override;
  bool deferFinish(const ErrorPtr& error) override;
  void cancelChildren() override;
  void releaseAfterFinish() override;
  void childDidFinish(Operation& child);
  void startChildren();
  // Finishes the group when it started and no child is left; call without _groupMutex.
  void finishIfDone();

  ProcedureQueue _queue;
  mutable std::mutex _groupMutex;
  // Guarded by _groupMutex:
  std::vector<std::shared_ptr<Operation>> _children;
  std::size_t _unfinishedChildren = 0;
  bool _childrenStarted = false;
  bool _done = false;             // the group's own finish has been requested of Procedure
  bool _finishRequested = false;  // finish() was called while children were unfinished
  ErrorPtr _requestedError;
  ErrorPtr _childError;
};

}  // namespace vantelkit
