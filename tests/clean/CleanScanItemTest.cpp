#include "vantelkit/clean/CleanScanItem.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "vantelkit/platform/Workspace.h"

namespace vantelkit {
namespace {

// Answers every path with an icon named after it, counting the questions.
class NamingWorkspace final : public platform::Workspace {
 public:
  std::string localizedTypeDescription(std::string_view) override { return "Document"; }
  platform::Image iconForFile(std::string_view path) override {
    ++calls;
    platform::Image image;
    image.iconName = "icon:" + std::string(path);
    return image;
  }
  int calls = 0;
};

class CleanScanItemTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::Workspace::setShared(workspace); }
  void TearDown() override { platform::Workspace::setShared(nullptr); }

  static std::shared_ptr<FileNode> node(std::string_view path, std::int64_t size) {
    return FileNode::make(FileURL::fileURLWithPath(path), nullptr, size, FileNode::NodeType::file);
  }
  std::shared_ptr<NamingWorkspace> workspace = std::make_shared<NamingWorkspace>();
};

TEST_F(CleanScanItemTest, SizeComesFromTheFileElseFromTheChildren) {
  auto a = CleanScanItem::make(node("/d/a", 10));
  auto b = CleanScanItem::make(node("/d/b", 32));
  EXPECT_EQ(a->size, 10u);
  EXPECT_EQ(CleanScanItem::make(nullptr, {a, b, nullptr}, "Both")->size, 42u);
  EXPECT_EQ(CleanScanItem::make()->size, 0u);
  // A file decides the size on its own, even with children.
  EXPECT_EQ(CleanScanItem::make(node("/d", 5), {a, b})->size, 5u);
  // A negative node size must not wrap around to a huge unsigned size.
  EXPECT_EQ(CleanScanItem::make(node("/d/neg", -1))->size, 0u);
}

TEST_F(CleanScanItemTest, NameAndIconAreDerivedUnlessGiven) {
  auto plain = CleanScanItem::make(node("/Users/me/Downloads/report.pdf", 1));
  EXPECT_EQ(plain->name(), "report.pdf");
  ASSERT_TRUE(plain->icon());
  EXPECT_EQ(plain->icon()->iconName, "icon:/Users/me/Downloads/report.pdf");
  EXPECT_EQ(workspace->calls, 2);  // asked anew on every read, not kept
  (void)plain->icon();
  EXPECT_EQ(workspace->calls, 3);

  platform::Image given;
  given.iconName = "given";
  auto matched = CleanScanItem::make(node("/Users/me/Library/Caches/x", 1), {}, "Editor Cache", given);
  EXPECT_EQ(matched->name(), "Editor Cache");
  EXPECT_EQ(matched->icon(), given);
  EXPECT_EQ(workspace->calls, 3);

  auto empty = CleanScanItem::make();
  EXPECT_EQ(empty->name(), std::nullopt);
  EXPECT_EQ(empty->icon(), std::nullopt);
}

TEST_F(CleanScanItemTest, EqualityIgnoresSizeAndIcon) {
  auto small = CleanScanItem::make(node("/d/file", 10));
  auto large = CleanScanItem::make(node("/d/file", 20));
  EXPECT_EQ(*small, *large);
  EXPECT_EQ(small->hash(), large->hash());
  CleanScanItemSet set{small};
  EXPECT_FALSE(set.insert(large).second);
  EXPECT_EQ((*set.begin())->size, 10u);

  // A file item and a matched item of the same file differ by name.
  auto matched = CleanScanItem::make(node("/d/file", 10), {}, "Named");
  EXPECT_FALSE(*small == *matched);
  EXPECT_TRUE(set.insert(matched).second);
  // An explicit name equal to the derived one is the same name.
  EXPECT_EQ(*CleanScanItem::make(node("/d/file", 1), {}, "file"), *small);

  // Containers: no file and no name, no children: equal.
  EXPECT_EQ(*CleanScanItem::make(), *CleanScanItem::make());
  EXPECT_FALSE(*CleanScanItem::make() == *small);
  EXPECT_FALSE(*CleanScanItem::make(nullptr, {}, "x") == *CleanScanItem::make());
}

TEST_F(CleanScanItemTest, ContainersCompareChildrenInOrder) {
  auto a = [] { return CleanScanItem::make(node("/d/a", 1)); };
  auto b = [] { return CleanScanItem::make(node("/d/b", 2)); };
  auto ab = CleanScanItem::make(nullptr, {a(), b()}, "copies");
  auto abAgain = CleanScanItem::make(nullptr, {a(), b()}, "copies");
  auto ba = CleanScanItem::make(nullptr, {b(), a()}, "copies");
  auto onlyA = CleanScanItem::make(nullptr, {a()}, "copies");
  EXPECT_EQ(*ab, *abAgain);
  EXPECT_EQ(ab->hash(), abAgain->hash());
  EXPECT_FALSE(*ab == *ba);
  EXPECT_FALSE(*ab == *onlyA);
  auto nested = CleanScanItem::make(nullptr, {ab}, "outer");
  auto nestedOther = CleanScanItem::make(nullptr, {ba}, "outer");
  EXPECT_FALSE(*nested == *nestedOther);
  EXPECT_EQ(*CleanScanItem::make(nullptr, {nullptr}), *CleanScanItem::make(nullptr, {nullptr}));
  EXPECT_FALSE(*CleanScanItem::make(nullptr, {nullptr}) == *CleanScanItem::make(nullptr, {a()}));
}

TEST_F(CleanScanItemTest, OrdersBySizeAlone) {
  std::vector<std::shared_ptr<CleanScanItem>> items{CleanScanItem::make(node("/a", 30)),
                                                    CleanScanItem::make(node("/b", 10)),
                                                    CleanScanItem::make(node("/c", 20))};
  std::sort(items.begin(), items.end(), [](const auto& x, const auto& y) { return *x < *y; });
  EXPECT_EQ(items.front()->size, 10u);
  EXPECT_EQ(items.back()->size, 30u);
  auto big = CleanScanItem::make();
  big->size = UINT64_MAX;
  EXPECT_TRUE(*items.back() < *big);
  EXPECT_TRUE(*big > *items.back() && *big >= *big && *big <= *big);
  // Same size, different files: neither is less, yet they are not equal.
  auto x = CleanScanItem::make(node("/x", 5));
  auto y = CleanScanItem::make(node("/y", 5));
  EXPECT_FALSE(*x < *y || *y < *x);
  EXPECT_FALSE(*x == *y);
}

}  // namespace
}  // namespace vantelkit
