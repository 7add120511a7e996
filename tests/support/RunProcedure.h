// Runs a procedure that outputs clean scan items to its end on a queue of its own, draining
// the main queue meanwhile (bounded: a procedure that never ends fails the test).
// Thread safety: call from the test's thread, which drains the main queue.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "vantelkit/clean/CleanScanItem.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/platform/DispatchQueue.h"

namespace vantel::testing {

template <class P>
vantelkit::CleanScanItemSet runToEnd(const std::shared_ptr<P>& procedure) {
  vantelkit::ProcedureQueue queue;
  queue.addOperation(procedure);
  EXPECT_TRUE(vantelkit::MainQueue::runUntil([&] { return procedure->isFinished(); }, 60));
  EXPECT_FALSE(procedure->failed());
  auto items = procedure->successValue();
  EXPECT_TRUE(items);
  return items.value_or(vantelkit::CleanScanItemSet{});
}

// Items by name (or "?" for none).
inline std::map<std::string, std::shared_ptr<vantelkit::CleanScanItem>> byName(
    const std::vector<std::shared_ptr<vantelkit::CleanScanItem>>& items) {
  std::map<std::string, std::shared_ptr<vantelkit::CleanScanItem>> named;
  for (const auto& item : items) named[item->name().value_or("?")] = item;
  return named;
}

}  // namespace vantel::testing
