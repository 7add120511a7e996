// The cost of the procedure runtime next to the bare dispatch it runs on: a task submitted
// to the shared pool, a trivial procedure (create, queue, execute, finish), a procedure
// that waits for one dependency, and a chain of 10,000 dependent procedures.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/platform/DispatchQueue.h"

namespace {

using namespace vantelkit;

constexpr int kBatch = 1000;

// Counts down to zero; wait() returns at zero.
class Countdown {
 public:
  explicit Countdown(int count) : _count(count) {}
  void arrive() {
    if (_count.fetch_sub(1) == 1) {
      std::lock_guard lock(_mutex);
      _done = true;
      _condition.notify_all();
    }
  }
  void wait() {
    std::unique_lock lock(_mutex);
    _condition.wait(lock, [&] { return _done; });
  }

 private:
  std::atomic<int> _count;
  std::mutex _mutex;
  std::condition_variable _condition;
  bool _done = false;
};

void BM_BareTask(benchmark::State& state) {
  auto queue = DispatchQueue::global();
  for (auto _ : state) {
    Countdown countdown(kBatch);
    for (int i = 0; i < kBatch; ++i) queue->async([&countdown] { countdown.arrive(); });
    countdown.wait();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BareTask)->UseRealTime();

void BM_TrivialProcedure(benchmark::State& state) {
  ProcedureQueue queue;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) queue.addOperation(std::make_shared<BlockProcedure>([] {}));
    queue.waitUntilAllOperationsAreFinished();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_TrivialProcedure)->UseRealTime();

// Pairs of procedures, the second waiting for the first: one dependency edge per pair.
void BM_DependencyEdge(benchmark::State& state) {
  ProcedureQueue queue;
  for (auto _ : state) {
    for (int i = 0; i < kBatch / 2; ++i) {
      auto first = std::make_shared<BlockProcedure>([] {});
      auto second = std::make_shared<BlockProcedure>([] {});
      second->addDependency(first);
      queue.addOperation(second);
      queue.addOperation(first);
    }
    queue.waitUntilAllOperationsAreFinished();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  state.counters["edges/s"] = benchmark::Counter(static_cast<double>(state.iterations() * kBatch / 2),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DependencyEdge)->UseRealTime();

void BM_Chain10000(benchmark::State& state) {
  constexpr int kLength = 10000;
  ProcedureQueue queue;
  for (auto _ : state) {
    std::vector<std::shared_ptr<Operation>> chain;
    chain.reserve(kLength);
    for (int i = 0; i < kLength; ++i) {
      auto procedure = std::make_shared<BlockProcedure>([] {});
      if (i > 0) procedure->addDependency(chain.back());
      chain.push_back(std::move(procedure));
    }
    queue.addOperations(chain);
    queue.waitUntilAllOperationsAreFinished();
  }
  state.SetItemsProcessed(state.iterations() * kLength);
}
BENCHMARK(BM_Chain10000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
