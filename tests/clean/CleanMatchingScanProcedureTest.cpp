#include "vantelkit/clean/CleanMatchingScanProcedure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <type_traits>

#include "support/ScanFixtureTree.h"
#include "vantelkit/foundation/ProcedureQueue.h"

namespace vantelkit {
namespace {

using vantel::testing::ScanFixtureTree;
using Applications = std::vector<std::shared_ptr<ApplicationBundle>>;

static_assert(!std::is_constructible_v<CleanMatchingScanProcedure, std::shared_ptr<DispatchQueue>,
                                       std::vector<std::shared_ptr<Operation>>>);
static_assert(!std::is_default_constructible_v<CleanMatchingScanProcedure>);

std::shared_ptr<ApplicationBundle> application(std::string name, std::string identifier) {
  platform::Image icon;
  icon.iconName = "icon-of-" + identifier;
  return ApplicationBundle::make(FileURL::fileURLWithPath("/Applications/" + name + ".app", true),
                                 BundleInfo(name, identifier, BundleVersion()), icon);
}

// Items by entry name, after running the procedure to its end.
std::map<std::string, std::shared_ptr<CleanScanItem>> scan(const std::string& folder, Applications applications,
                                                           std::size_t* count = nullptr) {
  auto procedure = std::make_shared<CleanMatchingScanProcedure>(FileURL::fileURLWithPath(folder), applications);
  ProcedureQueue queue;
  queue.addOperation(procedure);
  EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  EXPECT_FALSE(procedure->failed());
  auto items = procedure->successValue();
  EXPECT_TRUE(items);
  std::map<std::string, std::shared_ptr<CleanScanItem>> byName;
  if (!items) return byName;
  if (count) *count = items->size();
  for (const auto& item : *items) byName[item->file->name()] = item;
  return byName;
}

TEST(CleanMatchingScanProcedureTest, MatchesIdentifiersBeforeNamesCaseSensitively) {
  ScanFixtureTree tree;
  tree.directory("com.example.editor");
  tree.file("Editor Helper/log.txt", 7);
  tree.file("editor notes", 3);
  tree.file("Writer.com.example.editor.log", 11);
  tree.file("unrelated.log", 5);
  tree.file("empty-name", 1);
  auto writer = application("Writer", "org.other.writer");
  auto editor = application("Editor", "com.example.editor");
  auto nameless = application("", "");

  std::size_t count = 0;
  auto items = scan(tree.root(), {nameless, writer, editor}, &count);
  // Only the immediate entries: the log inside "Editor Helper" is not listed.
  EXPECT_EQ(count, 6u);
  ASSERT_EQ(items.size(), 6u);

  platform::Image editorIcon;
  editorIcon.iconName = "icon-of-com.example.editor";
  for (const char* name : {"com.example.editor", "Editor Helper", "Writer.com.example.editor.log"}) {
    SCOPED_TRACE(name);
    const auto& item = items[name];
    ASSERT_TRUE(item);
    // The identifier wins over the name of Writer, earlier in the list.
    EXPECT_EQ(item->name(), "Editor Cache");
    EXPECT_EQ(item->icon(), editorIcon);
    EXPECT_TRUE(item->children.empty());
  }
  EXPECT_EQ(items["Writer.com.example.editor.log"]->size, 11u);
  // A folder's node from a flat listing has size 0; the size phase of the caller fills it in.
  EXPECT_EQ(items["Editor Helper"]->size, 0u);
  // Lower case does not match "Editor", and the empty identifier and name match nothing.
  for (const char* name : {"editor notes", "unrelated.log", "empty-name"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(items[name]->name(), name);
    EXPECT_EQ(items[name]->size, static_cast<std::uint64_t>(items[name]->file->size()));
  }
}

TEST(CleanMatchingScanProcedureTest, WithoutApplicationsOrFolderGivesPlainItemsOrNothing) {
  ScanFixtureTree tree;
  tree.file("com.example.editor", 4);
  auto items = scan(tree.root(), {});
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items["com.example.editor"]->name(), "com.example.editor");
  EXPECT_EQ(items["com.example.editor"]->size, 4u);

  std::size_t count = 99;
  EXPECT_TRUE(scan(tree.path("missing"), {application("Editor", "com.example.editor")}, &count).empty());
  EXPECT_EQ(count, 0u);
}

}  // namespace
}  // namespace vantelkit
