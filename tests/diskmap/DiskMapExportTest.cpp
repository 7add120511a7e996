#include "vantelkit/diskmap/DiskMapExport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "support/FaultInjectingDirectoryReader.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/diskmap/DiskMapHtmlReport.h"
#include "vantelkit/diskmap/DiskMapImport.h"
#include "vantelkit/scanning/DiskScanner.h"

using namespace vantelkit;
using vantel::testing::FaultInjectingDirectoryReader;
using vantel::testing::ScanFixtureTree;
using Index = DiskMap::Index;

namespace {

// What a saved map keeps of an entry: type, sizes, marks, and (when the format keeps them)
// the error and which kind an entry is that is neither a file nor a folder.
using Saved = std::tuple<int, std::int64_t, std::int64_t, int, int>;

std::map<std::string, Saved> entriesOf(const DiskMap& map, bool exact) {
  std::map<std::string, Saved> entries;
  for (Index index = 1; index < map.count(); ++index) {
    const auto& entry = map[index];
    const bool other = !entry.isDirectory() && entry.nodeType() != FileNode::NodeType::file;
    const int type = other && !exact ? static_cast<int>(FileNode::NodeType::none) : entry.type;
    entries[map.relativePath(index)] = {type, entry.size, entry.usage, entry.marks, exact ? entry.error : 0};
  }
  return entries;
}

// A scanned map with what the formats must carry: hard links counted once, an unreadable
// folder and file, a cache folder, a link and a pipe, folders' own sizes, and names that
// need escaping.
std::shared_ptr<DiskMap> scannedMap(ScanFixtureTree& tree) {
  tree.file("a/original", 4096);
  tree.hardLink("b/second", "a/original");
  tree.file("quote\"back\\slash\nline", 7);
  tree.file("caf\xc3\xa9/deep/er/file.txt", 1234);
  tree.file("cache/CACHEDIR.TAG", 0);
  {
    std::FILE* tag = std::fopen(tree.path("cache/CACHEDIR.TAG").c_str(), "w");
    std::fputs("Signature: 8a477f597d28d172789f06886806bc55\n", tag);
    std::fclose(tag);
  }
  tree.file("cache/held", 77);
  tree.file("locked/secret", 500);
  tree.file("nostatus", 9);
  tree.directory("empty");
  tree.symbolicLink("empty-link", "empty");
  tree.fifo("a/pipe");
  auto reader = std::make_shared<FaultInjectingDirectoryReader>();
  reader->failOpen(tree.path("locked"));
  reader->failStatus(tree.path("nostatus"));
  auto scanner = DiskScanner::make({}, reader);
  DiskScanner::WalkOptions options;
  options.countHardLinksOnce = true;
  options.excludeCaches = true;
  scanner->setWalkOptions(options);
  return scanner->scanMap(FileURL::fileURLWithPath(tree.root()));
}

std::shared_ptr<DiskMap> readBack(const std::string& text) {
  auto imported = DiskMapImport::read(text);
  if (!imported) {
    ADD_FAILURE() << imported.error()->localizedDescription();
    return nullptr;
  }
  return *imported;
}

void expectSameMap(const DiskMap& written, const DiskMap& read, bool exact) {
  EXPECT_EQ(read.rootPath(), written.rootPath());
  EXPECT_EQ(read.totalSize(), written.totalSize());
  EXPECT_EQ(read.totalUsage(), written.totalUsage());
  EXPECT_EQ(read.root().size, written.root().size);
  EXPECT_EQ(read.unreadableEntries().size(), written.unreadableEntries().size());
  EXPECT_EQ(read.hardLinksCountedOnce(), written.hardLinksCountedOnce());
  EXPECT_EQ(entriesOf(read, exact), entriesOf(written, exact));
}

// Fails every write after the first limit bytes with ENOSPC.
OutputSink fullAfter(std::size_t limit, std::string& out) {
  return [limit, &out](std::string_view bytes) {
    if (out.size() + bytes.size() > limit) return std::make_error_code(std::errc::no_space_on_device);
    out.append(bytes);
    return std::error_code();
  };
}

}  // namespace

TEST(DiskMapExportTest, EveryFormatReadsBackAsTheSameMap) {
  ScanFixtureTree tree;
  auto map = scannedMap(tree);
  ASSERT_EQ(map->unreadableCount(), 2u);
  ASSERT_EQ(map->hardLinks().size(), 2u);

  std::string json;
  ASSERT_TRUE(DiskMapExport::writeJSON(*map, {}, stringSink(json)));
  EXPECT_EQ(json.back(), '\n');
  EXPECT_EQ(json.find('\n'), json.size() - 1);
  auto fromJSON = readBack(json);
  ASSERT_TRUE(fromJSON);
  expectSameMap(*map, *fromJSON, true);
  // Written again, the map read back gives the same bytes but for the time taken.
  std::string again;
  ASSERT_TRUE(DiskMapExport::writeJSON(*fromJSON, {}, stringSink(again)));
  auto withoutElapsed = [](std::string text) {
    const auto start = text.find("\"elapsed\"");
    return text.erase(start, text.find(",\"root\"") - start);
  };
  EXPECT_EQ(withoutElapsed(again), withoutElapsed(json));

  std::string ncdu;
  ASSERT_TRUE(DiskMapExport::writeNcdu(*map, {.timestamp = 1700000000}, stringSink(ncdu)));
  EXPECT_NE(ncdu.find("\"timestamp\":1700000000"), std::string::npos);
  auto fromNcdu = readBack(ncdu);
  ASSERT_TRUE(fromNcdu);
  // The export keeps that an entry failed, not why; that an entry is not regular, not what.
  expectSameMap(*map, *fromNcdu, false);
}

TEST(DiskMapExportTest, DepthAndBundleLimitsLeaveOutOnlyWhatIsBelowThem) {
  auto map = readBack(R"([1, 2, {}, [{"name": "/r"}, [{"name": "x"}, [{"name": "y"}, {"name": "f", "asize": 5}]],
    [{"name": "Tool.app"}, {"name": "bin", "asize": 9}]]])");
  ASSERT_TRUE(map);
  auto names = [](const DiskMap& read) {
    std::vector<std::string> paths;
    for (Index index = 1; index < read.count(); ++index) paths.push_back(read.relativePath(index));
    std::sort(paths.begin(), paths.end());
    return paths;
  };
  for (bool ncdu : {false, true}) {
    std::string text;
    DiskMapExport::TreeOptions tree{.maxDepth = 1, .bundlesAsLeaves = true};
    auto written = ncdu ? DiskMapExport::writeNcdu(*map, {.tree = tree}, stringSink(text))
                        : DiskMapExport::writeJSON(*map, {.tree = tree}, stringSink(text));
    ASSERT_TRUE(written);
    auto read = readBack(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(names(*read), (std::vector<std::string>{"Tool.app", "x"})) << text;
    tree = {.maxDepth = std::nullopt, .bundlesAsLeaves = true};
    text.clear();
    ASSERT_TRUE(ncdu ? DiskMapExport::writeNcdu(*map, {.tree = tree}, stringSink(text))
                     : DiskMapExport::writeJSON(*map, {.tree = tree}, stringSink(text)));
    EXPECT_EQ(names(*readBack(text)), (std::vector<std::string>{"Tool.app", "x", "x/y", "x/y/f"})) << text;
  }
}

TEST(DiskMapExportTest, AFailedWriteIsAnOutputErrorAndEndsTheOutput) {
  auto map = readBack(R"([1, 2, {}, [{"name": "/r"}, {"name": "f", "asize": 5}]])");
  ASSERT_TRUE(map);
  std::string out;
  auto json = DiskMapExport::writeJSON(*map, {}, fullAfter(10, out));
  ASSERT_FALSE(json);
  ASSERT_TRUE(json.errorAs<OutputError>());
  EXPECT_EQ(json.errorAs<OutputError>()->code(), std::errc::no_space_on_device);
  EXPECT_EQ(json.error()->qualifiedDescription(), "OutputError.writeFailed");
  EXPECT_TRUE(out.empty());
  if (DiskMapHtmlReport::isAvailable()) {
    std::string page;
    ASSERT_TRUE(DiskMapHtmlReport::write(*map, "/r<", stringSink(page)));
    EXPECT_NE(page.find("[\"f\",5,0,0]"), std::string::npos);
    EXPECT_EQ(page.find("/r<"), std::string::npos);  // the path is escaped in the title and the data
    std::string some;
    auto report = DiskMapHtmlReport::write(*map, "/r", fullAfter(page.size() / 2, some));
    ASSERT_FALSE(report);
    EXPECT_TRUE(report.errorAs<OutputError>());
  }
}
