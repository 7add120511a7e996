// A procedure that runs a closure. The closure either receives the procedure and ends it
// itself with finish() (at once or later, from any thread), or takes no argument and the
// procedure finishes when it returns: with the ErrorPtr it returns, or with an
// ExceptionError when it throws.
// Thread safety: as Procedure; the closure runs once, on a queue thread.
#pragma once

#include <atomic>
#include <concepts>
#include <functional>
#include <type_traits>

#include "vantelkit/foundation/Procedure.h"

namespace vantelkit {

class BlockProcedure : public Procedure {
 public:
  // The closure calls procedure.finish() itself.
  using SelfBlock = std::function<void(BlockProcedure& procedure)>;
  // The procedure finishes with the returned error (null for success) when it returns.
  using ErrorBlock = std::function<ErrorPtr()>;

  // Accepts a closure taking BlockProcedure&, one returning ErrorPtr, or one returning nothing.
  template <class Block>
    requires std::invocable<Block&, BlockProcedure&> || std::invocable<Block&>
  explicit BlockProcedure(Block block) : _finishesItself(std::invocable<Block&, BlockProcedure&>) {
    if constexpr (std::invocable<Block&, BlockProcedure&>) {
      _selfBlock = SelfBlock(std::move(block));
    } else if constexpr (std::is_void_v<std::invoke_result_t<Block&>>) {
      _errorBlock = [block = std::move(block)]() mutable -> ErrorPtr {
        block();
        return nullptr;
      };
    } else {
      _errorBlock = ErrorBlock(std::move(block));
    }
  }

  // True for the form whose closure finishes the procedure itself.
  bool finishesItself() const { return _finishesItself; }

 protected:
  // Runs the closure once and releases it when it returns.
  void execute() override;
  // Releases a closure that never ran (the procedure was cancelled first).
  void procedureDidFinish(const ErrorPtr& error) override;

 private:
  const bool _finishesItself;
  std::atomic<bool> _executed{false};
  SelfBlock _selfBlock;    // released by execute(), or at the finish when never run
  ErrorBlock _errorBlock;  // the same
};

}  // namespace vantelkit
