#include "vantelkit/diskmap/DiskMapImport.h"

#include <gtest/gtest.h>

using namespace vantelkit;

namespace {

using Index = DiskMap::Index;

std::shared_ptr<DiskMap> imported(std::string_view text) {
  auto result = DiskMapImport::read(text);
  if (!result) {
    ADD_FAILURE() << result.error()->qualifiedDescription() << " " << result.error()->localizedDescription();
    return nullptr;
  }
  return *result;
}

DiskMapImportError failure(std::string_view text) {
  auto result = DiskMapImport::read(text);
  if (auto* error = result.errorAs<DiskMapImportError>()) return *error;
  ADD_FAILURE() << "accepted: " << text;
  return DiskMapImportError(DiskMapImportError::Case::notADiskMap, 0, 0, "");
}

// The child of folder named name, or null.
const DiskMap::Entry* child(const DiskMap& map, Index folder, std::string_view name, Index* found = nullptr) {
  for (Index index : map.children(folder)) {
    if (map[index].nameView() != name) continue;
    if (found) *found = index;
    return &map[index];
  }
  return nullptr;
}

TEST(DiskMapImportTest, ReadsAnNcduExportWithMarksAndHardLinks) {
  auto result = imported(R"([1, 2, {"progname": "ncdu", "extra": [1, {"x": null}]},
    [{"name": "/data", "dev": 7},
     {"name": "a", "asize": 100, "dsize": 4096},
     [{"name": "sub", "asize": 20, "dsize": 4096}, {"name": "b", "asize": 5, "dsize": 8, "ino": 42, "nlink": 2, "hlnkc": true},
                      {"name": "c", "asize": 5, "dsize": 8, "ino": 42, "nlink": 2, "hlnkc": true}],
     [{"name": "locked", "read_error": true}],
     [{"name": "proc", "excluded": "kernfs"}],
     {"name": "link", "asize": 10, "notreg": true},
     {"name": "pipe", "notreg": true, "mode": 4516},
     {"name": "caf\u00e9 \ud83d\ude00 \ud800"}
    ]])");
  ASSERT_TRUE(result);
  const DiskMap& map = *result;
  const Index root = DiskMap::rootIndex;
  EXPECT_EQ(map.rootPath(), "/data");
  // b and c are one file; sub's own sizes are counted, and the link's.
  EXPECT_EQ(map.root().size, 100 + 20 + 5 + 10);
  EXPECT_EQ(map.root().usage, 4096 + 4096 + 8 + 10);
  EXPECT_EQ(result->totalSize(), 135);
  EXPECT_TRUE(result->hardLinksCountedOnce());
  ASSERT_EQ(result->hardLinks().size(), 2u);
  EXPECT_EQ(result->hardLinks()[0].device, 7u);
  Index sub = 0;
  ASSERT_TRUE(child(map, root, "sub", &sub));
  EXPECT_EQ(map[sub].size, 25);
  EXPECT_TRUE(child(map, sub, "c")->hasMark(FileNode::duplicateLink));
  EXPECT_FALSE(child(map, sub, "b")->hasMark(FileNode::duplicateLink));
  EXPECT_TRUE(child(map, root, "locked")->hasMark(FileNode::unreadable));
  ASSERT_EQ(result->unreadableCount(), 1u);
  EXPECT_EQ(result->unreadableEntries()[0].path, "/data/locked");
  EXPECT_EQ(result->unreadableEntries()[0].reason(), "could not be read");
  EXPECT_TRUE(child(map, root, "proc")->hasMark(FileNode::pseudoFileSystem));
  // Not regular: of the kind its mode gives, or of none known.
  EXPECT_EQ(child(map, root, "link")->nodeType(), FileNode::NodeType::none);
  EXPECT_EQ(child(map, root, "pipe")->nodeType(), FileNode::NodeType::fifo);
  EXPECT_TRUE(child(map, root, "caf\xc3\xa9 \xf0\x9f\x98\x80 \xef\xbf\xbd"));
  EXPECT_EQ(result->totalFilesScanned(), 9);
}

TEST(DiskMapImportTest, ReadsTheMapJsonAndSumsFoldersAgain) {
  auto result = imported(R"({"version": 1, "path": "/m", "size": 999, "hardLinks": "each link counted",
    "root": {"name": "m", "size": 1, "type": "directory", "children": [
      {"name": "f", "size": 10, "usage": 4096, "type": "file"},
      {"name": "x", "size": null, "usage": null, "type": "file", "error": "Permission denied"},
      {"name": "d", "type": "directory", "excluded": "otherfs", "children": []},
      {"name": "e", "type": "directory", "children": [{"name": "g", "size": 3, "type": "file"}]}]},
    "complete": false})");
  ASSERT_TRUE(result);
  const DiskMap& map = *result;
  const Index root = DiskMap::rootIndex;
  EXPECT_EQ(map.rootPath(), "/m");
  EXPECT_EQ(map.root().size, 13);
  EXPECT_EQ(child(map, root, "e")->usage, 3);  // usage defaults to the size
  EXPECT_EQ(child(map, root, "x")->error, 13);
  EXPECT_TRUE(child(map, root, "d")->hasMark(FileNode::otherFileSystem));
  EXPECT_FALSE(result->hardLinksCountedOnce());
  EXPECT_FALSE(result->isComplete());
}

TEST(DiskMapImportTest, MalformedInputIsAnErrorWithItsPosition) {
  auto error = failure("[1, 2, {},\n [{\"name\": \"/r\"}, {\"name\": \"a\", \"asize\": \"big\"}]]");
  EXPECT_EQ(error.line(), 2u);
  EXPECT_EQ(error.column(), 42u);
  EXPECT_EQ(error.message(), "\"asize\" must be a whole number >= 0");
  EXPECT_EQ(error.qualifiedDescription(), "DiskMapImportError.notADiskMap");
  EXPECT_EQ(error.localizedDescription(), "2:42: \"asize\" must be a whole number >= 0");
  EXPECT_EQ(failure("{\"root\": {\"name\": \"r\", \"children\": [{\"name\": \"a/b\"}]}}").message(),
            "invalid name \"a/b\"");
  EXPECT_EQ(failure("[1, 2, {}, [{\"name\": \"/r\"}, [{\"asize\": 1}]]]").message(), "entry without a name");
  EXPECT_EQ(failure("{\"root\": {\"children\": [], \"name\": \"r\"}}").message(), "entry without a name");
  EXPECT_EQ(failure("[1, 2, {}, [{\"name\": \"/r\",}]]").message(), "expected a member name in double quotes");
  EXPECT_EQ(failure("[1, 2, {}, [{\"name\": \"/r\"}, ]]").message(), "unexpected character");
  EXPECT_EQ(failure("[1, 2, {}, [{\"name\": \"bad\\q\"}]]").message(), "invalid escape in a string");
  EXPECT_EQ(failure("[1, 2, {}, [{\"name\": \"a\nb\"}]]").message(), "control character in a string");
  EXPECT_EQ(failure("{\"path\": \"/x\"}").message(), "a map without \"root\"");
  EXPECT_EQ(failure("42").message(), "expected an ncdu export or a map");
  EXPECT_EQ(failure("[1, 2, {}, [{\"name\": \"/r\"}]]]").message(), "unexpected text after the end of the document");
  EXPECT_EQ(failure("[1, 2, {}, [{\"name\": \"/r\",}]]").kind(), DiskMapImportError::Case::malformedJSON);
}

TEST(DiskMapImportTest, ReadsChainsOfAnyDepthAndRefusesThemPastTheLimitGiven) {
  constexpr std::size_t kLevels = 100000;
  std::string ncdu = "[1, 2, {}, [{\"name\": \"/r\"}";
  std::string json = "{\"root\": {\"name\": \"/r\", \"children\": [";
  for (std::size_t i = 0; i < kLevels; ++i) {
    ncdu += ",[{\"name\":\"d\"}";
    json += "{\"name\":\"d\",\"children\":[";
  }
  ncdu += ",{\"name\":\"f\",\"asize\":5}" + std::string(kLevels + 2, ']');
  json += "{\"name\":\"f\",\"size\":5}";
  for (std::size_t i = 0; i <= kLevels; ++i) json += "]}";
  json += "}";
  for (const std::string* text : {&ncdu, &json}) {
    auto map = imported(*text);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->count(), kLevels + 2);
    EXPECT_EQ(map->root().size, 5);
    EXPECT_EQ(map->relativePath(static_cast<Index>(kLevels + 1)).size(), kLevels * 2 + 1);
  }
  for (const std::string* text : {&ncdu, &json}) {
    auto refused = DiskMapImport::read(*text, {.maxDepth = 100});
    auto* error = refused.errorAs<DiskMapImportError>();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->kind(), DiskMapImportError::Case::nestedTooDeeply);
    EXPECT_EQ(error->message(), "directories nested more than 100 levels deep");
  }
}

}  // namespace
