#include "vantelkit/foundation/WeakArray.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vantelkit {
namespace {

struct Listener {
  explicit Listener(std::string name) : name(std::move(name)) {}
  std::string name;
};

using Pointer = std::shared_ptr<Listener>;

std::vector<std::string> namesOf(const std::vector<Pointer>& listeners) {
  std::vector<std::string> names;
  for (const auto& listener : listeners) names.push_back(listener->name);
  return names;
}

class WeakArrayTest : public ::testing::Test {
 protected:
  Pointer first = std::make_shared<Listener>("first");
  Pointer second = std::make_shared<Listener>("second");
  Pointer third = std::make_shared<Listener>("third");
};

TEST_F(WeakArrayTest, ReleasedEntriesReadEmptyUntilARemovalCompacts) {
  WeakArray<Listener> array({first, second, third});
  second.reset();

  EXPECT_EQ(namesOf(array.getAll()), (std::vector<std::string>{"first", "third"}));
  EXPECT_EQ(array.get(1), nullptr);
  EXPECT_EQ(array.count(), 3u);
  int calls = 0;
  array.forEach([&](const Pointer&) { ++calls; });
  EXPECT_EQ(calls, 2);

  // Removing the first entry compacts away the released one too.
  array.remove(0);
  EXPECT_EQ(array.count(), 1u);
  EXPECT_EQ(array.get(0), third);
}

TEST_F(WeakArrayTest, DoesNotKeepObjectsAlive) {
  std::weak_ptr<Listener> watcher = first;
  WeakArray<Listener> array({first});
  first.reset();
  EXPECT_TRUE(watcher.expired());
  EXPECT_TRUE(array.getAll().empty());
}

TEST_F(WeakArrayTest, IndexesAtOrBeyondTheCountDoNothing) {
  WeakArray<Listener> array({first, second});
  EXPECT_EQ(array.get(2), nullptr);
  EXPECT_EQ(array.get(static_cast<std::size_t>(-1)), nullptr);
  array.remove(2);
  array.removeSubrange(5, 9);
  array.removeSubrange(1, 0);
  array.removeSubrange(1, 1);
  EXPECT_EQ(namesOf(array.getAll()), (std::vector<std::string>{"first", "second"}));
}

TEST_F(WeakArrayTest, RemoveSubrangeShiftsTheRestDown) {
  WeakArray<Listener> array({first, second, third});
  array.removeSubrange(0, 2);
  EXPECT_EQ(array.get(0), third);
  EXPECT_EQ(array.count(), 1u);

  // A range reaching past the end removes what there is.
  WeakArray<Listener> longer({first, second, third});
  longer.removeSubrange(1, 10);
  EXPECT_EQ(namesOf(longer.getAll()), (std::vector<std::string>{"first"}));
}

TEST_F(WeakArrayTest, RemoveSubrangeCompactsAfterEachRemoval) {
  // The released entry at index 1 disappears with the first removal, so the second removal
  // at index 0 takes the object that was at index 2.
  auto fourth = std::make_shared<Listener>("fourth");
  WeakArray<Listener> array({first, second, third, fourth});
  second.reset();
  array.removeSubrange(0, 2);
  EXPECT_EQ(namesOf(array.getAll()), (std::vector<std::string>{"fourth"}));
}

TEST_F(WeakArrayTest, ForEachNeverSkipsAnEntryWhenTheBodyRemovesAnother) {
  WeakArray<Listener> array({first, second, third});
  auto late = std::make_shared<Listener>("late");
  std::vector<std::string> seen;
  array.forEach([&](const Pointer& listener) {
    seen.push_back(listener->name);
    // A listener removing itself while being notified, and one added during the walk.
    if (listener == first) array.remove(0);
    if (listener == second) array.append(late);
  });
  // Walking by index alone would have skipped "second", which moved into the removed slot.
  EXPECT_EQ(seen, (std::vector<std::string>{"first", "second", "third"}));
  EXPECT_EQ(namesOf(array.getAll()), (std::vector<std::string>{"second", "third", "late"}));
}

TEST_F(WeakArrayTest, ForEachSkipsEntriesRemovedOrReleasedDuringTheWalk) {
  WeakArray<Listener> shrinking({first, second, third});
  std::vector<std::string> visited;
  shrinking.forEach([&](const Pointer& listener) {
    visited.push_back(listener->name);
    shrinking.removeSubrange(1, 3);
  });
  EXPECT_EQ(visited, (std::vector<std::string>{"first"}));

  WeakArray<Listener> releasing({first, second, third});
  visited.clear();
  releasing.forEach([&](const Pointer& listener) {
    visited.push_back(listener->name);
    third.reset();
  });
  EXPECT_EQ(visited, (std::vector<std::string>{"first", "second"}));
}

TEST_F(WeakArrayTest, ForEachKeepsTheObjectAliveDuringTheCall) {
  WeakArray<Listener> array({first});
  std::weak_ptr<Listener> watcher = first;
  array.forEach([&](const Pointer& listener) {
    first.reset();
    EXPECT_FALSE(watcher.expired());
    EXPECT_EQ(listener->name, "first");
  });
  EXPECT_TRUE(watcher.expired());
}

}  // namespace
}  // namespace vantelkit
