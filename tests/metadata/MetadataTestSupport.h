// Gathering from an index in tests: waits (bounded) for the completion on the calling thread.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/BoundedWait.h"
#include "vantelkit/metadata/MetadataIndex.h"

namespace vantelkit::testing {

// Collects one completion of a gathering.
class GatherResult {
 public:
  MetadataIndex::Completion completion() {
    return [state = _state](MetadataIndex::Items items, MetadataIndex::Unreadable unreadable) {
      std::lock_guard lock(state->mutex);
      state->items = std::move(items);
      state->unreadable = std::move(unreadable);
      ++state->calls;
      state->condition.notify_all();
    };
  }
  // The items once the completion has run, or none when it did not within the limit.
  std::optional<MetadataIndex::Items> wait(std::chrono::milliseconds limit = kPatience) {
    std::unique_lock lock(_state->mutex);
    if (!_state->condition.wait_for(lock, limit, [&] { return _state->calls > 0; })) return std::nullopt;
    return _state->items;
  }
  // What the completion reported as unreadable (empty before it ran).
  MetadataIndex::Unreadable unreadable() const {
    std::lock_guard lock(_state->mutex);
    return _state->unreadable;
  }
  int calls() const {
    std::lock_guard lock(_state->mutex);
    return _state->calls;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable condition;
    MetadataIndex::Items items;  // guarded by mutex
    MetadataIndex::Unreadable unreadable;  // guarded by mutex
    int calls = 0;               // guarded by mutex
  };
  std::shared_ptr<State> _state = std::make_shared<State>();
};

// The kMDItemPath of each item, sorted.
inline std::vector<std::string> sortedPaths(const MetadataIndex::Items& items) {
  std::vector<std::string> paths;
  for (const auto& item : items) {
    auto path = item->valueForAttribute("kMDItemPath");
    paths.push_back(path ? std::get<std::string>(*path) : std::string("<none>"));
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace vantelkit::testing
