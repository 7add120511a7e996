// What the three home-folder queries of a clean scan cost next to one walk of the folder:
// one plain walk with the scanning engine, one query, the three queries one after another
// (as the clean scan runs them) and all at once, both sharing one walk, and for reference
// the three one after another with sharing turned off (three walks).
// The tree is $VANTEL_BENCH_TREE, else /tmp/vantel-bench-tree (bench/make_tree.py makes it).
//   build/bench/bench/MetadataQueryBenchmark --benchmark_repetitions=3
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "vantelkit/scanning/DiskScanner.h"
#include "vantelkit/metadata/WalkingMetadataIndex.h"
#include "vantelkit/scanning/FileCollector.h"

namespace {

using namespace vantelkit;

const char* const kPredicates[] = {
    "(_kMDItemFileName LIKE[cd] '*.pkg')",
    "(_kMDItemFileName LIKE[cd] '*.dmg')",
    "(kMDItemFSSize > 100000000)",
};

std::string benchTree() {
  const char* tree = std::getenv("VANTEL_BENCH_TREE");
  return tree ? tree : "/tmp/vantel-bench-tree";
}

bool haveTree(benchmark::State& state) {
  if (std::filesystem::is_directory(benchTree())) return true;
  state.SkipWithError(("no benchmark tree at " + benchTree() + "; run bench/make_tree.py").c_str());
  return false;
}

// Waits for a number of gatherings to answer.
class Answers {
 public:
  MetadataIndex::Completion completion() {
    return [this](MetadataIndex::Items items, MetadataIndex::Unreadable) {
      std::lock_guard lock(_mutex);
      _items += items.size();
      ++_answers;
      _condition.notify_all();
    };
  }
  void wait(int count) {
    std::unique_lock lock(_mutex);
    _condition.wait(lock, [&] { return _answers >= count; });
  }
  std::size_t items() {
    std::lock_guard lock(_mutex);
    return _items;
  }

 private:
  std::mutex _mutex;
  std::condition_variable _condition;
  int _answers = 0;          // guarded by _mutex
  std::size_t _items = 0;    // guarded by _mutex
};

void BM_OneWalk(benchmark::State& state) {
  if (!haveTree(state)) return;
  const auto url = FileURL::fileURLWithPath(benchTree(), true);
  for (auto _ : state) {
    auto sizes = std::make_shared<SizeCollector>();
    auto result = DiskScanner::make()->scan(url, {.collectors = {sizes}});
    state.counters["entries"] = static_cast<double>(result->totalFilesScanned());
  }
}

void gatherInTurn(benchmark::State& state, int queries, double sharingWindow) {
  if (!haveTree(state)) return;
  const std::vector<std::string> scopes{benchTree()};
  for (auto _ : state) {
    auto index = WalkingMetadataIndex::make(nullptr, sharingWindow);
    Answers answers;
    for (int i = 0; i < queries; ++i) {
      index->gather(MetadataPredicate::fromFormat(kPredicates[i]), scopes, answers.completion());
      answers.wait(i + 1);
    }
    state.counters["walks"] = static_cast<double>(index->walksStarted());
    state.counters["results"] = static_cast<double>(answers.items());
  }
}

void BM_OneQuery(benchmark::State& state) { gatherInTurn(state, 1, WalkingMetadataIndex::defaultSharingWindow); }
void BM_ThreeQueriesInTurnShared(benchmark::State& state) {
  gatherInTurn(state, 3, WalkingMetadataIndex::defaultSharingWindow);
}
void BM_ThreeQueriesInTurnUnshared(benchmark::State& state) { gatherInTurn(state, 3, 0.0); }

void BM_ThreeQueriesAtOnceShared(benchmark::State& state) {
  if (!haveTree(state)) return;
  const std::vector<std::string> scopes{benchTree()};
  for (auto _ : state) {
    auto index = WalkingMetadataIndex::make();
    Answers answers;
    for (const char* predicate : kPredicates)
      index->gather(MetadataPredicate::fromFormat(predicate), scopes, answers.completion());
    answers.wait(3);
    state.counters["walks"] = static_cast<double>(index->walksStarted());
  }
}

BENCHMARK(BM_OneWalk)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->Iterations(5);
BENCHMARK(BM_OneQuery)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->Iterations(5);
BENCHMARK(BM_ThreeQueriesInTurnShared)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->Iterations(5);
BENCHMARK(BM_ThreeQueriesAtOnceShared)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->Iterations(5);
BENCHMARK(BM_ThreeQueriesInTurnUnshared)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->Iterations(3);

}  // namespace
