#include "vantelkit/diskmap/DiskMapSearch.h"

#include <gtest/gtest.h>

#include "vantelkit/diskmap/DiskMapImport.h"

using namespace vantelkit;

namespace {

// Names that sort around "/" ("a-b" and "a.txt" come between "a" and "a/..."), mixed case,
// a compound extension, a name that is only an extension.
std::shared_ptr<DiskMap> sampleMap() {
  auto map = DiskMapImport::read(R"([1, 2, {}, [{"name": "/s"},
    {"name": "a.txt", "asize": 10},
    [{"name": "a"}, {"name": "Notes.TXT", "asize": 2000}, [{"name": "a.txt"}, {"name": "x.tar.gz", "asize": 5000}]],
    {"name": "a-b", "asize": 1},
    {"name": ".txt", "asize": 3},
    [{"name": "B"}]]])");
  EXPECT_TRUE(map);
  return map ? *map : nullptr;
}

std::vector<std::string> found(const DiskMap& map, DiskMapSearch::Filter filter) {
  std::vector<std::string> paths;
  auto search = DiskMapSearch::make(std::move(filter));
  EXPECT_TRUE(search) << search.error()->localizedDescription();
  if (!search) return paths;
  search->forEachMatch(map, "/s", [&paths](DiskMap::Index, const std::string& path) { paths.push_back(path); });
  return paths;
}

}  // namespace

TEST(DiskMapSearchTest, EveryEntryComesInTheByteOrderOfItsPath) {
  auto map = sampleMap();
  ASSERT_TRUE(map);
  EXPECT_EQ(found(*map, {}), (std::vector<std::string>{"/s/.txt", "/s/B", "/s/a", "/s/a-b", "/s/a.txt",
                                                       "/s/a/Notes.TXT", "/s/a/a.txt", "/s/a/a.txt/x.tar.gz"}));
}

TEST(DiskMapSearchTest, FiltersCombine) {
  auto map = sampleMap();
  ASSERT_TRUE(map);
  using Paths = std::vector<std::string>;
  // Extensions ignore case, as fd's do.
  EXPECT_EQ(found(*map, {.extension = ".TXT"}), (Paths{"/s/a.txt", "/s/a/Notes.TXT", "/s/a/a.txt"}));
  EXPECT_EQ(found(*map, {.extension = "tar.gz"}), (Paths{"/s/a/a.txt/x.tar.gz"}));
  EXPECT_EQ(found(*map, {.extension = "txt", .types = {FileNode::NodeType::file}}), (Paths{"/s/a.txt", "/s/a/Notes.TXT"}));
  EXPECT_EQ(found(*map, {.nameContains = "b"}), (Paths{"/s/a-b"}));
  EXPECT_EQ(found(*map, {.nameContains = "b", .ignoreCase = true}), (Paths{"/s/B", "/s/a-b"}));
  // Folders count as 0 bytes.
  EXPECT_EQ(found(*map, {.minimumSize = 2000}), (Paths{"/s/a/Notes.TXT", "/s/a/a.txt/x.tar.gz"}));
  EXPECT_EQ(found(*map, {.types = {FileNode::NodeType::directory}}), (Paths{"/s/B", "/s/a", "/s/a/a.txt"}));
  EXPECT_EQ(found(*map, {.minimumSize = 2000, .types = {FileNode::NodeType::link, FileNode::NodeType::file}}),
            (Paths{"/s/a/Notes.TXT", "/s/a/a.txt/x.tar.gz"}));
  EXPECT_TRUE(found(*map, {.nameContains = "zzz"}).empty());
}

TEST(DiskMapSearchTest, AGlobMatchesTheWholeNameARegularExpressionAnyPartOfIt) {
  auto map = sampleMap();
  ASSERT_TRUE(map);
  using Paths = std::vector<std::string>;
  EXPECT_EQ(found(*map, {.glob = "a"}), (Paths{"/s/a"}));
  EXPECT_EQ(found(*map, {.glob = "*.txt"}), (Paths{"/s/.txt", "/s/a.txt", "/s/a/a.txt"}));
  EXPECT_EQ(found(*map, {.glob = "NOTES.*", .ignoreCase = true}), (Paths{"/s/a/Notes.TXT"}));
  EXPECT_EQ(found(*map, {.regex = "-|gz$"}), (Paths{"/s/a-b", "/s/a/a.txt/x.tar.gz"}));
  EXPECT_EQ(found(*map, {.regex = "^b$", .ignoreCase = true}), (Paths{"/s/B"}));
  auto bad = DiskMapSearch::make({.regex = "a("});
  ASSERT_FALSE(bad);
  ASSERT_TRUE(bad.errorAs<DiskMapSearchError>());
  EXPECT_FALSE(bad.error()->localizedDescription().empty());
}

TEST(DiskMapSearchTest, IgnoringCaseFoldsUnicodeAndComparesOtherNamesByteByByte) {
  // "ümlaut", "STRASSE.txt" and "straße.TXT", a decomposed "Ü", a name that is not UTF-8.
  auto map = DiskMapImport::read("[1, 2, {}, [{\"name\": \"/s\"}, {\"name\": \"\xC3\xBCmlaut\"},"
                                 " {\"name\": \"STRASSE.txt\"}, {\"name\": \"stra\xC3\x9F" "e.TXT\"},"
                                 " {\"name\": \"U\xCC\x88" "ber\"}, {\"name\": \"Bad\xFF\xFEName\"}]]");
  ASSERT_TRUE(map) << map.error()->localizedDescription();
  using Paths = std::vector<std::string>;
  EXPECT_EQ(found(**map, {.nameContains = "\xC3\x9CMLAUT", .ignoreCase = true}), (Paths{"/s/\xC3\xBCmlaut"}));
  EXPECT_EQ(found(**map, {.nameContains = "stra\xC3\x9F" "e", .ignoreCase = true}),
            (Paths{"/s/STRASSE.txt", "/s/stra\xC3\x9F" "e.TXT"}));
  EXPECT_EQ(found(**map, {.nameContains = "\xC3\xBC" "ber", .ignoreCase = true}), (Paths{"/s/U\xCC\x88" "ber"}));
  EXPECT_EQ(found(**map, {.nameContains = "bad\xFF", .ignoreCase = true}), (Paths{"/s/Bad\xFF\xFEName"}));
  EXPECT_EQ(found(**map, {.glob = "\xC3\x9CML*", .ignoreCase = true}), (Paths{"/s/\xC3\xBCmlaut"}));
  EXPECT_EQ(found(**map, {.regex = "\xC3\x9CML", .ignoreCase = true}), (Paths{"/s/\xC3\xBCmlaut"}));
  EXPECT_EQ(found(**map, {.regex = "^bad.*name$", .ignoreCase = true}), (Paths{"/s/Bad\xFF\xFEName"}));
  EXPECT_TRUE(found(**map, {.nameContains = "\xC3\x9CMLAUT"}).empty());
}
