// How quickly the browser moves and sorts on a map of 1,000,000 entries: a root folder
// holding 1,000 folders of 999 files each (1,000,000 entries with the folders and the root),
// and, for the worst case, one folder holding 1,000,000 files. Moving is a key press;
// sorting sorts the whole folder shown; opening lists, filters and sorts it.
//   build/release/bench/DiskMapBrowserBenchmark
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <random>

#include "vantelkit/diskmap/DiskMapBrowser.h"
#include "vantelkit/platform/TextScreen.h"

namespace {

using namespace vantelkit;
using Key = platform::TextScreen::Key;

// folders × files below the root, names in byte order within each folder when
// namesInOrder, shuffled otherwise; sizes random.
std::shared_ptr<DiskMap> makeMap(std::size_t folders, std::size_t files, bool namesInOrder) {
  auto map = std::make_shared<DiskMap>(FileURL::fileURLWithPath("/bench", true));
  std::mt19937_64 random(42);
  auto fill = [&](DiskMap::Index parent, std::size_t count, bool folder) {
    auto block = map->reserve(count, count * 9);
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = i;
    if (!namesInOrder) std::shuffle(order.begin(), order.end(), random);
    for (std::size_t i = 0; i < count; ++i) {
      char* name = block.names + i * 9;
      std::snprintf(name, 9, "%c%07zu", folder ? 'd' : 'f', order[i]);
      const std::int64_t size = folder ? 0 : static_cast<std::int64_t>(random() % 1'000'000);
      map->at(static_cast<DiskMap::Index>(block.first + i)) =
          DiskMap::Entry{size, (size + 4095) / 4096 * 4096, name, parent, 0, 0,
                         static_cast<std::uint8_t>(folder ? FileNode::NodeType::directory : FileNode::NodeType::file),
                         0, 0};
    }
    map->at(parent).firstChild = block.first;
    map->at(parent).childCount = static_cast<DiskMap::Index>(count);
    return block.first;
  };
  if (folders == 0) {
    fill(DiskMap::rootIndex, files, false);
  } else {
    const auto first = fill(DiskMap::rootIndex, folders, true);
    for (std::size_t i = 0; i < folders; ++i) fill(static_cast<DiskMap::Index>(first + i), files, false);
  }
  map->sumFolders();
  map->setFigures(map->root().size, map->root().usage, {}, true, 0, static_cast<std::int64_t>(map->count() - 1), true,
                  namesInOrder);
  return map;
}

DiskMapBrowser& flat(bool namesInOrder) {
  static auto inOrder = std::make_unique<DiskMapBrowser>(makeMap(0, 1'000'000, true));
  static auto shuffled = std::make_unique<DiskMapBrowser>(makeMap(0, 1'000'000, false));
  return namesInOrder ? *inOrder : *shuffled;
}

void BM_MoveOneRow(benchmark::State& state) {
  auto& browser = flat(true);
  browser.setPageRows(21);
  int key = Key::down;
  for (auto _ : state) {
    browser.press(key);
    if (browser.cursor() == 0 || browser.cursor() + 1 == browser.rows().size()) key = key == Key::down ? Key::up : Key::down;
  }
}
BENCHMARK(BM_MoveOneRow);

void BM_MovePageAndEnd(benchmark::State& state) {
  auto& browser = flat(true);
  for (auto _ : state) {
    browser.press(Key::pageDown);
    browser.press(Key::end);
    browser.press(Key::pageUp);
    browser.press(Key::home);
  }
}
BENCHMARK(BM_MovePageAndEnd);

// Each iteration sorts the million rows once (the same key again reverses the order).
void sortBench(benchmark::State& state, int key, bool namesInOrder) {
  auto& browser = flat(namesInOrder);
  for (auto _ : state) {
    browser.press(key);
    benchmark::DoNotOptimize(browser.rows().data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 1'000'000);
}
void BM_SortBySize(benchmark::State& state) { sortBench(state, 's', true); }
void BM_SortByName(benchmark::State& state) { sortBench(state, 'n', true); }
void BM_SortByNameUnorderedMap(benchmark::State& state) { sortBench(state, 'n', false); }
void BM_SortBySizeUnorderedMap(benchmark::State& state) { sortBench(state, 's', false); }
void BM_SortByItemCount(benchmark::State& state) { sortBench(state, 'C', true); }
void BM_ToggleHidden(benchmark::State& state) { sortBench(state, '.', true); }
BENCHMARK(BM_SortBySize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByNameUnorderedMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortBySizeUnorderedMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByItemCount)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToggleHidden)->Unit(benchmark::kMillisecond);

// A map of 1,000 folders: opening one and going back up (both sorted by size).
void BM_OpenAndLeaveFolder(benchmark::State& state) {
  static DiskMapBrowser browser(makeMap(1000, 999, true));
  for (auto _ : state) {
    browser.open();
    browser.goUp();
  }
}
BENCHMARK(BM_OpenAndLeaveFolder)->Unit(benchmark::kMicrosecond);

// Making the browser: item counts for every entry and the root's rows.
void BM_MakeBrowser(benchmark::State& state) {
  auto map = makeMap(1000, 999, true);
  for (auto _ : state) {
    DiskMapBrowser browser(map);
    benchmark::DoNotOptimize(browser.rows().data());
  }
}
BENCHMARK(BM_MakeBrowser)->Unit(benchmark::kMillisecond);

}  // namespace
