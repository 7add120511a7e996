#include "vantelkit/diskmap/DiskMapDiff.h"

#include <gtest/gtest.h>

#include "vantelkit/diskmap/DiskMapImport.h"

using namespace vantelkit;

namespace {

std::shared_ptr<DiskMap> read(std::string_view text) {
  auto map = DiskMapImport::read(text);
  EXPECT_TRUE(map) << (map ? "" : map.error()->localizedDescription());
  return map ? *map : nullptr;
}

}  // namespace

TEST(DiskMapDiffTest, ChangesAreMatchedByNameAndListedLargestFirst) {
  // The roots' names differ: roots are matched whatever their names.
  auto before = read(R"([1, 2, {}, [{"name": "/old"},
    {"name": "same", "asize": 7},
    {"name": "grows", "asize": 10},
    [{"name": "moved"}, {"name": "inner", "asize": 100}],
    [{"name": "gone"}, {"name": "deep", "asize": 40}],
    {"name": "kind", "asize": 3},
    [{"name": "locked", "read_error": true}]]])");
  auto after = read(R"({"path": "/new", "root": {"name": "new", "type": "directory", "children": [
    {"name": "same", "size": 7, "type": "file"},
    {"name": "grows", "size": 25, "type": "file"},
    {"name": "moved", "type": "directory", "children": [{"name": "other", "size": 100, "type": "file"}]},
    {"name": "kind", "type": "directory", "children": []},
    {"name": "locked", "type": "directory", "children": [{"name": "f", "size": 2, "type": "file"}]},
    {"name": "new", "size": 1, "type": "file"}]}})");
  ASSERT_TRUE(before && after);
  using Status = DiskMapDiff::Status;
  using Type = FileNode::NodeType;
  struct Seen {
    std::string path;
    Status status;
    Type type;
    std::optional<std::int64_t> oldSize, newSize;
    bool unreadable;
    bool operator==(const Seen&) const = default;
  };
  auto seen = [](const DiskMap& before, const DiskMap& after) {
    std::vector<Seen> changes;
    for (const auto& change : DiskMapDiff::compare(before, after))
      changes.push_back({DiskMapDiff::path(change, before, after), change.status, change.type, change.oldSize,
                         change.newSize, change.unreadable});
    return changes;
  };
  std::vector<Seen> expected{
      {"moved/inner", Status::vanished, Type::file, 100, std::nullopt, false},
      {"moved/other", Status::appeared, Type::file, std::nullopt, 100, false},
      {"gone/", Status::vanished, Type::directory, 40, std::nullopt, false},
      {"grows", Status::grew, Type::file, 10, 25, false},
      {"kind", Status::vanished, Type::file, 3, std::nullopt, false},
      {"locked/", Status::grew, Type::directory, 0, 2, true},
      {"locked/f", Status::appeared, Type::file, std::nullopt, 2, false},
      {"new", Status::appeared, Type::file, std::nullopt, 1, false},
      {"kind/", Status::appeared, Type::directory, std::nullopt, 0, false},
  };
  EXPECT_EQ(seen(*before, *after), expected);
  EXPECT_TRUE(DiskMapDiff::compare(*before, *before).empty());
  EXPECT_EQ(DiskMapDiff::statusName(Status::shrank), "shrank");
}

TEST(DiskMapDiffTest, ComparesChainsOfAnyDepth) {
  constexpr std::size_t kLevels = 100000;
  auto chain = [](int fileBytes) {
    std::string text = "[1, 2, {}, [{\"name\": \"/r\"}";
    for (std::size_t i = 0; i < kLevels; ++i) text += ",[{\"name\":\"d\"}";
    return text + ",{\"name\":\"f\",\"asize\":" + std::to_string(fileBytes) + "}" + std::string(kLevels + 2, ']');
  };
  auto before = read(chain(5));
  auto after = read(chain(7));
  ASSERT_TRUE(before && after);
  auto changes = DiskMapDiff::compare(*before, *after);
  ASSERT_EQ(changes.size(), kLevels + 1);
  EXPECT_EQ(DiskMapDiff::path(changes.front(), *before, *after), "d/");
  EXPECT_EQ(changes.back().change(), 2);
  EXPECT_EQ(DiskMapDiff::path(changes.back(), *before, *after).size(), kLevels * 2 + 1);
  EXPECT_TRUE(DiskMapDiff::compare(*after, *after).empty());
}
