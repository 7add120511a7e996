// A procedure built from a closure that may finish later, with an optional time-out. The
// asSelf form passes the procedure to its closure, which must end it with finish() on every
// path; the asVoid form finishes when its closure returns, with the error it returns.
// A timed procedure whose closure never finishes is cancelled (and ended) after
// defaultTimeoutInterval() seconds and logs a warning on its log channel.
// Thread safety: as Procedure; the default interval may be read and written from any thread.
#pragma once

#include <functional>
#include <memory>
#include <variant>

#include "vantelkit/foundation/Procedure.h"

namespace vantelkit {

class AsyncProcedure : public Procedure {
 public:
  // The closure of a procedure: asSelf receives the procedure, asVoid returns its error
  // (null for success).
  class BlockStorage {
   public:
    using AsSelf = std::function<void(AsyncProcedure& procedure)>;
    using AsVoid = std::function<ErrorPtr()>;
    static BlockStorage asSelf(AsSelf block) { return BlockStorage(std::move(block)); }
    static BlockStorage asVoid(AsVoid block) { return BlockStorage(std::move(block)); }
    bool isAsSelf() const { return _block.index() == 0; }
    const AsSelf* selfBlock() const { return std::get_if<0>(&_block); }
    const AsVoid* voidBlock() const { return std::get_if<1>(&_block); }

   private:
    explicit BlockStorage(AsSelf block) : _block(std::in_place_index<0>, std::move(block)) {}
    explicit BlockStorage(AsVoid block) : _block(std::in_place_index<1>, std::move(block)) {}
    std::variant<AsSelf, AsVoid> _block;
  };

  // Seconds a timed procedure may run; initially 3.0.
  static double defaultTimeoutInterval();
  static void setDefaultTimeoutInterval(double seconds);

  // The asSelf form; with timeout true a TimeoutObserver of defaultTimeoutInterval() (read
  // now) is attached.
  AsyncProcedure(bool timeout, BlockStorage::AsSelf block);
  // The asVoid form, without time-out.
  explicit AsyncProcedure(BlockStorage::AsVoid block);
  // The asVoid form for a closure that cannot fail.
  explicit AsyncProcedure(std::function<void()> block);

  const BlockStorage& storage() const { return _storage; }

 protected:
  void execute() override;
  void procedureDidCancel(const ErrorPtr& error) override;

 private:
  const BlockStorage _storage;
};

}  // namespace vantelkit
