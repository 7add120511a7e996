#include "vantelkit/scanning/FileNode.h"

#include <gtest/gtest.h>

#include "support/BundleBuilder.h"
#include "vantelkit/formats/ApplicationIcon.h"

#include <string>
#include <unordered_set>
#include <vector>

#include "support/ScanFixtureTree.h"
#include "vantelkit/scanning/DataDescription.h"

using vantelkit::FileNode;
using vantelkit::FileURL;
using NodeType = FileNode::NodeType;

namespace {

TEST(FileNodeTest, AncestorsAreListedNearestFirstAndEndWhereTheParentIsGone) {
  auto root = FileNode::make(FileURL::fileURLWithPath("/r", true), nullptr, 0, NodeType::directory);
  auto a = FileNode::make(root->url().appendingPathComponent("a", true), root, 0, NodeType::directory);
  auto b = FileNode::make(a->url().appendingPathComponent("b", true), a, 0, NodeType::directory);
  auto c = FileNode::make(b->url().appendingPathComponent("c"), b, 7, NodeType::file);
  EXPECT_TRUE(root->allParents().empty());
  auto parents = c->allParents();
  ASSERT_EQ(parents.size(), 3u);
  EXPECT_EQ(parents[0], b);
  EXPECT_EQ(parents[1], a);
  EXPECT_EQ(parents[2], root);
  EXPECT_EQ(c->url().path(), "/r/a/b/c");

  // The parent is weak: once the only owner of a lets go, the chain stops at b.
  parents.clear();
  a.reset();
  root.reset();
  ASSERT_EQ(c->allParents().size(), 1u);
  EXPECT_EQ(c->parent(), b);
}

TEST(FileNodeTest, DroppingAVeryDeepTreeDoesNotExhaustTheStack) {
  auto root = FileNode::make(FileURL::fileURLWithPath("/deep", true), nullptr, 0, NodeType::directory);
  auto current = root;
  for (int i = 0; i < 300000; ++i) {
    auto next = FileNode::make(FileURL::fileURLWithPath("/deep/d", true), current, 0, NodeType::directory);
    current->appendChild(next);
    current = next;
  }
  current.reset();
  root.reset();
  SUCCEED();
}

TEST(FileNodeTest, NodesAreEqualAndHashAlikeByURLOnly) {
  auto one = FileNode::make(FileURL::fileURLWithPath("/x/y.txt"), nullptr, 10, NodeType::file);
  auto other = FileNode::make(FileURL::fileURLWithPath("/x").appendingPathComponent("y.txt"), one, 20,
                              NodeType::directory);
  EXPECT_TRUE(*one == *other);
  EXPECT_EQ(one->hash(), other->hash());
  std::unordered_set<std::shared_ptr<FileNode>, vantelkit::FileNodeHash, vantelkit::FileNodeEqual> set{one};
  EXPECT_FALSE(set.insert(other).second);
  auto different = FileNode::make(FileURL::fileURLWithPath("/x/y.txt2"), nullptr, 10, NodeType::file);
  EXPECT_FALSE(*one == *different);
}

TEST(FileNodeTest, NodeTypeRawValuesOutsideTheTableYieldNothing) {
  EXPECT_EQ(FileNode::nodeTypeFromRawValue(0), NodeType::none);
  EXPECT_EQ(FileNode::nodeTypeFromRawValue(10), NodeType::complex);
  EXPECT_EQ(FileNode::nodeTypeFromRawValue(4), NodeType::character);
  EXPECT_FALSE(FileNode::nodeTypeFromRawValue(11));
  EXPECT_FALSE(FileNode::nodeTypeFromRawValue(-1));
  EXPECT_EQ(FileNode::nodeTypeName(NodeType::character), "char");
}

TEST(FileNodeTest, NameAndExtensionComeFromTheLastComponent) {
  auto node = [](std::string_view path) {
    return FileNode::make(FileURL::fileURLWithPath(path), nullptr, 0, NodeType::file);
  };
  EXPECT_EQ(node("/a/b.tar.gz")->name(), "b.tar.gz");
  EXPECT_EQ(node("/a/b.tar.gz")->fileExtension(), "gz");
  EXPECT_EQ(node("/a/.profile")->fileExtension(), "");
  EXPECT_EQ(node("/a/noextension")->fileExtension(), "");
  EXPECT_EQ(node("/a/trailing.")->fileExtension(), "");
  EXPECT_EQ(node("/a/Foo.app/")->fileExtension(), "app");
  EXPECT_EQ(node("/")->name(), "/");
}

TEST(FileNodeTest, KindAndIconComeFromTheWorkspace) {
  vantel::testing::ScanFixtureTree tree;
  auto text = tree.file("notes.txt", 12);
  auto node = FileNode::make(FileURL::fileURLWithPath(text), nullptr, 12, NodeType::file);
  EXPECT_FALSE(node->kind().empty());
  EXPECT_TRUE(node->icon().iconName.has_value());

  auto gone = FileNode::make(FileURL::fileURLWithPath(tree.path("gone.txt")), nullptr, 0, NodeType::file);
  EXPECT_EQ(gone->kind(), "");
  EXPECT_FALSE(gone->icon().isEmpty());
}

TEST(FileNodeTest, AnApplicationBundleShowsTheApplicationsIcon) {
  vantel::testing::ScanFixtureTree tree;
  auto app = vantelkit::testing::writeBundle(tree.path("Tool.app"),
                                             vantelkit::Value(vantelkit::testing::applicationInfo("org.example.tool", "Tool")));
  auto node = FileNode::make(FileURL::fileURLWithPath(app, true), nullptr, 0, NodeType::directory);
  EXPECT_EQ(node->icon(), vantelkit::genericApplicationIcon());
}

TEST(FileNodeTest, FileTypeDoesNotFollowLinks) {
  vantel::testing::ScanFixtureTree tree;
  tree.directory("folder");
  tree.file("folder/plain", 3);
  tree.symbolicLink("link", tree.path("folder"));
  ASSERT_TRUE(tree.fifo("pipe"));
  using Type = FileURL::FileType;
  EXPECT_EQ(FileURL::fileURLWithPath(tree.path("link")).fileType(), Type::symbolicLink);
  EXPECT_EQ(FileURL::fileURLWithPath(tree.path("folder")).fileType(), Type::directory);
  EXPECT_EQ(FileURL::fileURLWithPath(tree.path("folder/plain")).fileType(), Type::file);
  EXPECT_EQ(FileURL::fileURLWithPath(tree.path("pipe")).fileType(), Type::fifo);
  EXPECT_EQ(FileURL::fileURLWithPath(tree.path("missing")).fileType(), Type::unknown);
  if (tree.socket("s")) {
    EXPECT_EQ(FileURL::fileURLWithPath(tree.path("s")).fileType(), Type::socket);
  }
  EXPECT_EQ(FileURL::fileURLWithPath("/dev/null").fileType(), Type::charSpecial);
}

TEST(FileNodeTest, EncodingRoundTripsTheTreeWithParentsAsReferences) {
  auto root = FileNode::make(FileURL::fileURLWithPath("/r", true), nullptr, 15, NodeType::directory);
  auto odd = FileNode::make(root->url().appendingPathComponent("b\xff%d 100%", true), root, 5, NodeType::directory);
  auto leaf = FileNode::make(odd->url().appendingPathComponent("x"), odd, 5, NodeType::file);
  root->appendChild(odd);
  odd->appendChild(leaf);

  auto encoded = root->encode();
  EXPECT_EQ(*encoded.textFor("parent"), "");
  auto decoded = FileNode::decode(encoded);
  ASSERT_TRUE(decoded);
  auto copy = *decoded;
  EXPECT_EQ(copy->url(), root->url());
  EXPECT_EQ(copy->size(), 15);
  EXPECT_EQ(copy->type(), NodeType::directory);
  ASSERT_EQ(copy->children().size(), 1u);
  auto oddCopy = copy->children()[0];
  EXPECT_EQ(oddCopy->url().path(), "/r/b\xff%d 100%");
  EXPECT_TRUE(oddCopy->url().hasDirectoryPath());
  EXPECT_EQ(oddCopy->parent(), copy);
  ASSERT_EQ(oddCopy->children().size(), 1u);
  EXPECT_EQ(oddCopy->children()[0]->size(), 5);

  // A child encoded alone names its parent by URL; the reference is not resolved.
  EXPECT_EQ(*leaf->encode().textFor("parent"), odd->url().absoluteString());
}

TEST(FileNodeTest, DecodingReportsTheMissingOrMistypedKey) {
  auto node = FileNode::make(FileURL::fileURLWithPath("/r"), nullptr, 1, NodeType::file);
  auto encoded = node->encode();
  auto without = encoded;
  without.dictionary()->erase("parent");
  auto result = FileNode::decode(without);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error()->qualifiedDescription(),
            "FileNodeDecodingError.keyNotFound(parent)");

  auto badType = encoded;
  (*badType.dictionary())["type"] = vantelkit::Value(std::int64_t{11});
  EXPECT_FALSE(FileNode::decode(badType));
  auto badURL = encoded;
  (*badURL.dictionary())["url"] = vantelkit::Value("http://example.org/");
  EXPECT_FALSE(FileNode::decode(badURL));
  EXPECT_FALSE(FileNode::decode(vantelkit::Value("text")));
}

TEST(FileURLTest, PathsAreNormalisedAndComponentsCounted) {
  auto url = FileURL::fileURLWithPath("//a/./b//c/");
  EXPECT_EQ(url.path(), "/a/b/c");
  EXPECT_TRUE(url.hasDirectoryPath());
  EXPECT_EQ(url.pathComponents(), (std::vector<std::string>{"/", "a", "b", "c"}));
  EXPECT_EQ(url.pathComponentCount(), 4u);
  EXPECT_EQ(FileURL().pathComponentCount(), 1u);
  EXPECT_EQ(FileURL::fileURLWithPath("/").path(), "/");
  EXPECT_EQ(FileURL().appendingPathComponent("x").path(), "/x");
  EXPECT_EQ(FileURL().appendingPathComponent("x").pathComponentCount(), 2u);
  EXPECT_EQ(url.deletingLastPathComponent().path(), "/a/b");
  EXPECT_EQ(url.appendingPathComponent("d/e").lastPathComponent(), "e");
  EXPECT_EQ(url.appendingPathComponent("d/e"), FileURL::fileURLWithPath("/a/b/c/d/e"));
  EXPECT_EQ(FileURL::fileURLWithPath("/a b/\xc3\xa9").absoluteString(), "file:///a%20b/%C3%A9");
  EXPECT_EQ(FileURL::fromAbsoluteString("file:///a%20b/%C3%A9"), FileURL::fileURLWithPath("/a b/\xc3\xa9"));
  EXPECT_FALSE(FileURL::fromAbsoluteString("file:///a%2"));
  EXPECT_FALSE(FileURL::fromAbsoluteString("file:///a%00b"));
}

TEST(DataDescriptionTest, HexAndUTF8Views) {
  std::vector<std::uint8_t> bytes{0x00, 0xAB, 0x10};
  EXPECT_EQ(vantelkit::hexDescription(bytes), "00ab10");
  EXPECT_EQ(vantelkit::hexDescription({}), "");
  std::vector<std::uint8_t> text{'h', 0xC3, 0xA9};
  EXPECT_EQ(vantelkit::utf8String(text), "h\xC3\xA9");
  EXPECT_FALSE(vantelkit::utf8String(bytes.size() ? std::vector<std::uint8_t>{0xAB} : bytes));
  // Overlong "/", a surrogate and a code point above U+10FFFF are all refused.
  EXPECT_FALSE(vantelkit::isValidUTF8("\xC0\xAF"));
  EXPECT_FALSE(vantelkit::isValidUTF8("\xED\xA0\x80"));
  EXPECT_FALSE(vantelkit::isValidUTF8("\xF4\x90\x80\x80"));
  EXPECT_FALSE(vantelkit::isValidUTF8("\xE2\x82"));
  EXPECT_EQ(vantelkit::replacingInvalidUTF8("a\xFF" "b\xE2\x82"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace

TEST(FileNodeTest, URLsBuiltFolderByFolderMatchURLsMadeFromTheirPaths) {
  // Built the way a scan builds them: each folder's entries share the folder, which refers
  // to its own folder in turn.
  std::vector<FileURL> chain{FileURL::fileURLWithPath("/", true)};
  std::string path;
  for (int level = 0; level < 200; ++level) {
    std::string name = level % 2 == 0 ? "d" : "dir.x";
    chain.push_back(vantelkit::FileURLBuilder(chain.back()).make(name, true));
    path += "/" + name;
  }
  const FileURL& deepest = chain.back();
  FileURL fromPath = FileURL::fileURLWithPath(path, true);
  EXPECT_EQ(deepest.path(), path);
  EXPECT_EQ(deepest, fromPath);
  EXPECT_EQ(deepest.hash(), fromPath.hash());
  EXPECT_EQ(deepest.pathComponentCount(), 201u);
  EXPECT_EQ(deepest.deletingLastPathComponent(), chain[chain.size() - 2]);
  EXPECT_EQ(chain[1].path(), "/d");
  EXPECT_EQ(deepest.appendingPathComponent("f").path(), path + "/f");
  EXPECT_FALSE(deepest == FileURL::fileURLWithPath(path + "x", true));

  // A chain of a million folders is released without recursion.
  FileURL url = FileURL::fileURLWithPath("/top", true);
  for (int level = 0; level < 1'000'000; ++level) url = vantelkit::FileURLBuilder(url).make("d", true);
  EXPECT_EQ(url.pathComponentCount(), 1'000'002u);
}
