#include "vantelkit/diskmap/DiskMapBrowser.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/FakeTrash.h"
#include "support/ScanFixtureTree.h"
#include "vantelkit/diskmap/DiskMapImport.h"
#include "vantelkit/platform/TextScreen.h"
#include "vantelkit/scanning/DiskScanner.h"

using namespace vantelkit;
using Action = DiskMapBrowser::Action;
using Key = platform::TextScreen::Key;

namespace {

std::shared_ptr<DiskMap> read(std::string_view text) {
  auto map = DiskMapImport::read(text);
  EXPECT_TRUE(map) << (map ? "" : map.error()->localizedDescription());
  return map ? *map : nullptr;
}

// /top: b (30 apparent, 4096 on disk), .hidden (5), a/ (x 10, y 20), c (1),
// cache/ (excluded), d/ empty.
std::shared_ptr<DiskMap> sample() {
  return read(R"([1, 2, {}, [{"name": "/top"},
    {"name": "b", "asize": 30, "dsize": 4096},
    {"name": ".hidden", "asize": 5, "dsize": 8192},
    [{"name": "a"}, {"name": "x", "asize": 10, "dsize": 4096}, {"name": "y", "asize": 20, "dsize": 4096}],
    {"name": "c", "asize": 1, "dsize": 12288},
    [{"name": "cache", "excluded": "kernfs"}],
    [{"name": "d"}]]])");
}

std::vector<std::string> names(const DiskMapBrowser& browser) {
  std::vector<std::string> out;
  for (auto row : browser.rows()) out.emplace_back(browser.map()[row].nameView());
  return out;
}

std::string selectedName(const DiskMapBrowser& browser) {
  auto entry = browser.selected();
  return entry ? std::string(browser.map()[*entry].nameView()) : std::string();
}

}  // namespace

TEST(DiskMapBrowserTest, SortKeysOrderRowsAndTheSameKeyReverses) {
  DiskMapBrowser browser(sample());
  // Disk usage, largest first, ties by name.
  EXPECT_EQ(names(browser), (std::vector<std::string>{"c", ".hidden", "a", "b", "cache", "d"}));
  EXPECT_EQ(browser.press('a'), Action::none);  // apparent sizes
  EXPECT_FALSE(browser.showsDiskUsage());
  EXPECT_EQ(names(browser), (std::vector<std::string>{"a", "b", ".hidden", "c", "cache", "d"}));
  browser.press('s');  // the same key reverses
  EXPECT_TRUE(browser.sortReversed());
  EXPECT_EQ(names(browser), (std::vector<std::string>{"cache", "d", "c", ".hidden", "a", "b"}));
  browser.press('n');
  EXPECT_FALSE(browser.sortReversed());
  EXPECT_EQ(names(browser), (std::vector<std::string>{".hidden", "a", "b", "c", "cache", "d"}));
  browser.press('n');
  EXPECT_EQ(names(browser), (std::vector<std::string>{"d", "cache", "c", "b", "a", ".hidden"}));
  browser.press('C');  // item count: a holds two
  EXPECT_EQ(names(browser).front(), "a");
  EXPECT_EQ(browser.itemCount(browser.map().rootIndex), 8u);
  // Modification times from the source, unknown ones last.
  browser.setModificationTimeSource([&browser](DiskMap::Index entry) -> std::optional<double> {
    auto name = browser.map()[entry].nameView();
    if (name == "b") return 300.0;
    if (name == "c") return 100.0;
    return std::nullopt;
  });
  browser.press('M');
  EXPECT_EQ(names(browser)[0], "b");
  EXPECT_EQ(names(browser)[1], "c");
  // Sorting by change needs an earlier map.
  EXPECT_EQ(browser.press('c'), Action::none);
  EXPECT_EQ(browser.sortKey(), DiskMapBrowser::SortKey::modified);
}

TEST(DiskMapBrowserTest, KeysMoveOpenAndLeaveFoldersAndKeepTheSelection) {
  DiskMapBrowser browser(sample());
  browser.press('n');
  EXPECT_EQ(selectedName(browser), "c");  // sorting keeps the selection
  browser.press(Key::home);
  browser.setPageRows(3);
  EXPECT_EQ(selectedName(browser), ".hidden");
  browser.press(Key::up);  // at the top already
  EXPECT_EQ(browser.cursor(), 0u);
  browser.press('j');
  browser.press(Key::down);
  browser.press(Key::down);
  EXPECT_EQ(selectedName(browser), "c");
  EXPECT_EQ(browser.top(), 1u);  // scrolled: the cursor stays in view
  browser.press(Key::end);
  EXPECT_EQ(selectedName(browser), "d");
  EXPECT_EQ(browser.top(), 3u);
  browser.press(Key::pageUp);
  EXPECT_EQ(browser.cursor(), 2u);
  browser.press(Key::home);
  browser.press('k');
  EXPECT_EQ(selectedName(browser), ".hidden");
  // A file does not open; a folder does, and leaving it selects it again.
  browser.press(Key::enter);
  EXPECT_EQ(browser.folder(), browser.map().rootIndex);
  browser.press('j');
  EXPECT_EQ(browser.press(Key::right), Action::none);
  EXPECT_EQ(names(browser), (std::vector<std::string>{"x", "y"}));
  browser.press('j');
  browser.press(Key::backspace);
  EXPECT_EQ(browser.folder(), browser.map().rootIndex);
  EXPECT_EQ(selectedName(browser), "a");
  EXPECT_FALSE(browser.goUp());
  // An empty folder has no selection, and nothing to act on.
  browser.press(Key::end);
  browser.press('l');
  EXPECT_TRUE(browser.rows().empty());
  EXPECT_FALSE(browser.selected());
  EXPECT_EQ(browser.press('d'), Action::none);
  EXPECT_EQ(browser.press('i'), Action::none);
  browser.press(Key::left);
  EXPECT_EQ(selectedName(browser), "d");
  // Keys the host acts on.
  EXPECT_EQ(browser.press('q'), Action::quit);
  EXPECT_EQ(browser.press(Key::interrupt), Action::interrupt);
  EXPECT_EQ(browser.press('?'), Action::help);
  EXPECT_EQ(browser.press('i'), Action::details);
  EXPECT_EQ(browser.press('r'), Action::rescan);
  EXPECT_EQ(browser.press('d'), Action::trash);
  EXPECT_EQ(browser.press('D'), Action::removePermanently);
  EXPECT_EQ(browser.press('u'), Action::restore);
  EXPECT_EQ(browser.press('Z'), Action::none);
  // openPath finds folders by name, as far as they exist.
  EXPECT_TRUE(browser.openPath("a"));
  EXPECT_EQ(names(browser), (std::vector<std::string>{"x", "y"}));
  EXPECT_FALSE(browser.openPath("a/x"));
  EXPECT_EQ(browser.map()[browser.folder()].nameView(), "a");
}

TEST(DiskMapBrowserTest, HiddenAndExcludedEntriesToggleWithoutLosingTheSelection) {
  DiskMapBrowser browser(sample());
  browser.press('n');
  for (std::size_t i = 0; i < browser.rows().size(); ++i)
    if (browser.map()[browser.rows()[i]].nameView() == "b") browser.select(browser.rows()[i]);
  browser.press('.');
  EXPECT_FALSE(browser.showsHidden());
  EXPECT_EQ(names(browser), (std::vector<std::string>{"a", "b", "c", "cache", "d"}));
  EXPECT_EQ(selectedName(browser), "b");
  browser.press('e');
  EXPECT_EQ(names(browser), (std::vector<std::string>{"a", "b", "c", "d"}));
  browser.press('.');
  browser.press('e');
  EXPECT_EQ(names(browser).size(), 6u);
  EXPECT_EQ(selectedName(browser), "b");
  // Hiding the selected row keeps the cursor in range.
  browser.press(Key::home);
  browser.press('.');
  EXPECT_EQ(selectedName(browser), "a");
}

TEST(DiskMapBrowserTest, RemovingAndRestoringKeepsEveryFolderAboveTrue) {
  DiskMapBrowser browser(sample());
  browser.setShowsDiskUsage(false);
  const auto& map = browser.map();
  const std::int64_t rootSize = map.root().size;
  ASSERT_TRUE(browser.openPath("a"));
  const DiskMap::Index a = browser.folder();
  const DiskMap::Index y = browser.rows()[0];
  ASSERT_EQ(map[y].nameView(), "y");
  browser.markRemoved(y);
  EXPECT_TRUE(browser.isRemoved(y));
  EXPECT_EQ(names(browser), (std::vector<std::string>{"x"}));
  EXPECT_EQ(map[a].size, 10);
  EXPECT_EQ(map.root().size, rootSize - 20);
  EXPECT_EQ(browser.itemCount(a), 1u);
  EXPECT_EQ(browser.itemCount(map.rootIndex), 7u);
  // The folder above goes too, then the file comes back first: it lands in the removed
  // folder's sums only, which are no longer in the root's.
  browser.goUp();
  browser.markRemoved(a);
  EXPECT_EQ(map.root().size, rootSize - 30);
  EXPECT_FALSE(browser.openPath("a"));
  browser.markRestored(y);
  EXPECT_EQ(map[a].size, 30);
  EXPECT_EQ(map.root().size, rootSize - 30);
  browser.markRestored(a);
  EXPECT_EQ(map.root().size, rootSize);
  EXPECT_EQ(browser.itemCount(map.rootIndex), 8u);
  EXPECT_EQ(selectedName(browser), "a");  // restored into the folder shown: selected
  // Removing twice, or the root, changes nothing.
  browser.markRemoved(map.rootIndex);
  browser.markRestored(a);
  EXPECT_EQ(map.root().size, rootSize);
}

TEST(DiskMapBrowserTest, ComparisonWithAnEarlierMapShowsAndSortsChanges) {
  auto before = read(R"([1, 2, {}, [{"name": "/old"},
    {"name": "b", "asize": 10}, {"name": "c", "asize": 5},
    [{"name": "a"}, {"name": "x", "asize": 10}, {"name": "gone", "asize": 50}],
    [{"name": "d"}], {"name": "kind", "asize": 1}]])");
  auto after = read(R"([1, 2, {}, [{"name": "/new"},
    {"name": "b", "asize": 30}, {"name": "c", "asize": 1},
    [{"name": "a"}, {"name": "x", "asize": 10}, {"name": "y", "asize": 20}],
    [{"name": "d"}], [{"name": "kind"}], {"name": "new", "asize": 7}]])");
  DiskMapBrowser browser(after);
  browser.setShowsDiskUsage(false);
  EXPECT_FALSE(browser.change(0));
  browser.compareWith(*before);
  ASSERT_TRUE(browser.isComparing());
  std::map<std::string, DiskMapBrowser::Change> seen;
  for (auto row : browser.rows()) seen[std::string(browser.map()[row].nameView())] = *browser.change(row);
  using Kind = DiskMapBrowser::Change::Kind;
  EXPECT_EQ(seen["b"], (DiskMapBrowser::Change{Kind::grew, 20}));
  EXPECT_EQ(seen["c"], (DiskMapBrowser::Change{Kind::shrank, -4}));
  EXPECT_EQ(seen["a"], (DiskMapBrowser::Change{Kind::shrank, -30}));
  EXPECT_EQ(seen["d"], (DiskMapBrowser::Change{Kind::same, 0}));
  EXPECT_EQ(seen["kind"].kind, Kind::appeared);  // a file then, a folder now
  EXPECT_EQ(seen["new"], (DiskMapBrowser::Change{Kind::appeared, 7}));
  EXPECT_EQ(*browser.change(0), (DiskMapBrowser::Change{Kind::shrank, -8}));
  browser.press('c');
  EXPECT_EQ(browser.sortKey(), DiskMapBrowser::SortKey::change);
  EXPECT_EQ(names(browser).front(), "b");
  EXPECT_EQ(names(browser).back(), "a");
  browser.openPath("a");
  EXPECT_EQ(browser.change(browser.rows()[0])->kind, Kind::appeared);  // y
}

TEST(DiskMapBrowserTest, RemovalPathsAreCheckedOnDiskAndNeverGoThroughALink) {
  vantel::testing::ScanFixtureTree tree;
  tree.file("top/keep/file", 10);
  tree.file("top/moved/inner", 10);
  tree.symbolicLink("top/link", "keep");
  auto scanner = DiskScanner::make();
  auto map = scanner->scanMap(FileURL::fileURLWithPath(tree.path("top"), true), {.choices = {.namesInOrder = true}});
  DiskMapBrowser browser(map);
  auto entryAt = [&](std::string_view relative) {
    browser.openPath(std::filesystem::path(relative).parent_path().string());
    const std::string name = std::filesystem::path(relative).filename().string();
    for (auto row : browser.rows())
      if (browser.map()[row].nameView() == name) return row;
    ADD_FAILURE() << relative;
    return DiskMap::rootIndex;
  };
  auto failure = [&](DiskMap::Index entry) {
    auto path = browser.pathForRemoval(entry);
    auto* error = path.errorAs<DiskMapBrowserError>();
    return error ? std::optional(error->kind()) : std::nullopt;
  };
  using Case = DiskMapBrowserError::Case;
  auto file = browser.pathForRemoval(entryAt("keep/file"));
  ASSERT_TRUE(file);
  EXPECT_EQ(*file, tree.path("top/keep/file"));
  // The link itself is what would go, and it is still a link.
  EXPECT_EQ(*browser.pathForRemoval(entryAt("link")), tree.path("top/link"));
  EXPECT_EQ(failure(DiskMap::rootIndex), Case::scanRoot);
  // A folder replaced by a link to another: nothing below it may be removed through it.
  std::filesystem::rename(tree.path("top/moved"), tree.path("elsewhere"));
  std::filesystem::create_symlink(tree.path("elsewhere"), tree.path("top/moved"));
  EXPECT_EQ(failure(entryAt("moved/inner")), Case::linkOnPath);
  EXPECT_EQ(failure(entryAt("moved")), Case::changedOnDisk);
  // Gone, or removed already.
  std::filesystem::remove(tree.path("top/keep/file"));
  EXPECT_EQ(failure(entryAt("keep/file")), Case::changedOnDisk);
  const auto keep = entryAt("keep");
  browser.markRemoved(keep);
  EXPECT_EQ(failure(keep), Case::alreadyRemoved);
}

TEST(DiskMapBrowserTest, NamesThatAreNotPlainNamesAreNeverRemoved) {
  // A map can be given any names; none may lead out of the tree.
  auto map = std::make_shared<DiskMap>(FileURL::fileURLWithPath("/tmp", true));
  static char names[] = "..\0a/b\0";
  auto block = map->reserve(2, 0);
  ASSERT_TRUE(block.reserved);
  for (DiskMap::Index i = 0; i < 2; ++i) {
    map->at(block.first + i) = DiskMap::Entry{1, 1, i == 0 ? names : names + 3, 0, 0, 0,
                                              static_cast<std::uint8_t>(FileNode::NodeType::file), 0, 0};
  }
  map->at(0).firstChild = block.first;
  map->at(0).childCount = 2;
  DiskMapBrowser browser(map);
  ASSERT_EQ(browser.rows().size(), 2u);
  for (auto row : browser.rows()) {
    auto path = browser.pathForRemoval(row);
    ASSERT_FALSE(path);
    EXPECT_EQ(path.errorAs<DiskMapBrowserError>()->kind(), DiskMapBrowserError::Case::unsafeName);
  }
}

TEST(DiskMapBrowserTest, TrashRestoreAndRemovalKeepTheMapInStepWithTheTrash) {
  vantel::testing::ScanFixtureTree tree;
  tree.file("top/big", 3000);
  tree.file("top/locked", 2000);
  tree.file("top/small", 10);
  auto map = DiskScanner::make()->scanMap(FileURL::fileURLWithPath(tree.path("top"), true),
                                          {.choices = {.namesInOrder = true}});
  DiskMapBrowser browser(map);
  browser.setShowsDiskUsage(false);
  browser.press('n');
  vantel::testing::FakeTrash trash;
  trash.failing.insert(tree.path("top/locked"));
  const std::int64_t rootSize = browser.map().root().size;

  auto moved = browser.trashSelected(trash);  // big
  ASSERT_TRUE(moved) << moved.error()->localizedDescription();
  EXPECT_EQ(moved->item.originalPath, tree.path("top/big"));
  EXPECT_EQ(moved->size, 3000);
  EXPECT_EQ(browser.map().root().size, rootSize - 3000);
  EXPECT_EQ(names(browser), (std::vector<std::string>{"locked", "small"}));
  EXPECT_EQ(selectedName(browser), "locked");
  // A refusal changes nothing.
  auto refused = browser.trashSelected(trash);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.errorAs<DiskMapBrowserError>()->kind(), DiskMapBrowserError::Case::trashFailed);
  EXPECT_NE(refused.error()->localizedDescription().find("refused"), std::string::npos);
  EXPECT_EQ(names(browser).size(), 2u);
  EXPECT_EQ(browser.trashed().size(), 1u);
  // Back again, selected in its folder.
  browser.press('j');
  auto back = browser.restore(0, trash);
  ASSERT_TRUE(back);
  EXPECT_EQ(trash.restored, (std::vector<std::string>{tree.path("top/big")}));
  EXPECT_TRUE(browser.trashed().empty());
  EXPECT_EQ(browser.map().root().size, rootSize);
  EXPECT_EQ(selectedName(browser), "big");
  EXPECT_FALSE(browser.restore(0, trash));
  // A list carried over to the browser of a new map knows no entries.
  ASSERT_TRUE(browser.trashSelected(trash));
  DiskMapBrowser next(map);
  next.takeTrashedFrom(browser);
  ASSERT_EQ(next.trashed().size(), 1u);
  EXPECT_FALSE(next.trashed()[0].entry);
  EXPECT_TRUE(browser.trashed().empty());

  // A removal that leaves the entry on disk leaves it in the map.
  browser.press(Key::end);
  ASSERT_EQ(selectedName(browser), "small");
  auto kept = browser.removeSelectedPermanently(trash);
  ASSERT_FALSE(kept);
  EXPECT_EQ(kept.errorAs<DiskMapBrowserError>()->kind(), DiskMapBrowserError::Case::removeFailed);
  EXPECT_EQ(selectedName(browser), "small");
  auto system = vantelkit::platform::Trash::platformDefault();
  auto removed = browser.removeSelectedPermanently(*system);
  ASSERT_TRUE(removed) << removed.error()->localizedDescription();
  EXPECT_FALSE(std::filesystem::exists(tree.path("top/small")));
  EXPECT_EQ(names(browser), (std::vector<std::string>{"locked"}));
}
